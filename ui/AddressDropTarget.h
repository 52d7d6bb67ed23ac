#pragma once

#include <wx/dnd.h>

#include <functional>

// Takes a link dropped on a window, as the desktop's drag and drop delivers it: a
// "text/uri-list" from a page's link or a file manager, or plain text from a browser's
// address bar. The toolkit's URL data object on GTK accepts both.
class AddressDropTarget : public wxDropTarget
{
public:
    // take is given the dropped text as it came; it decides what the text holds.
    explicit AddressDropTarget(std::function<void(const wxString&)> take);

    wxDragResult OnDragOver(wxCoord x, wxCoord y, wxDragResult def) override;
    wxDragResult OnData(wxCoord x, wxCoord y, wxDragResult def) override;

private:
    std::function<void(const wxString&)> take;
};
