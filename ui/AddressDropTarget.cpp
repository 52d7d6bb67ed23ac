#include "ui/AddressDropTarget.h"

#include <wx/dataobj.h>

AddressDropTarget::AddressDropTarget(std::function<void(const wxString&)> takeText)
    : wxDropTarget(new wxURLDataObject), take(std::move(takeText))
{
}

wxDragResult AddressDropTarget::OnDragOver(wxCoord, wxCoord, wxDragResult)
{
    // A link is copied, never moved: the source must not delete what it dragged.
    return wxDragCopy;
}

wxDragResult AddressDropTarget::OnData(wxCoord, wxCoord, wxDragResult)
{
    if (!GetData())
        return wxDragNone;
    // The object says itself which of its formats the drop filled.
    take(static_cast<wxURLDataObject*>(GetDataObject())->GetURL());
    return wxDragCopy;
}
