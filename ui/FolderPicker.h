#pragma once

#include <wx/string.h>

#include <functional>

class wxWindow;

// Asks the user for a folder. The question goes through a replaceable function because a
// native folder dialog cannot be answered with a chosen path by the test hooks.
class FolderPicker
{
public:
    // True with the chosen folder in chosen when the user confirmed; chosen is untouched
    // otherwise.
    using PickFunction = std::function<bool(wxWindow* parent, const wxString& message,
                                            const wxString& start, wxString& chosen)>;

    // Asks through the current pick function.
    static bool Pick(wxWindow* parent, const wxString& message, const wxString& start,
                     wxString& chosen);

    // The toolkit's modal folder dialog; the default pick function.
    static bool ShowFolderDialog(wxWindow* parent, const wxString& message, const wxString& start,
                                 wxString& chosen);

    // Replaceable; put ShowFolderDialog back after replacing it.
    static PickFunction pick;
};
