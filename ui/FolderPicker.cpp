#include "ui/FolderPicker.h"

#include <wx/dirdlg.h>

FolderPicker::PickFunction FolderPicker::pick = &FolderPicker::ShowFolderDialog;

bool FolderPicker::Pick(wxWindow* parent, const wxString& message, const wxString& start,
                        wxString& chosen)
{
    // An emptied seam behaves like a cancelled dialog rather than throwing.
    if (!pick)
        return false;
    return pick(parent, message, start, chosen);
}

bool FolderPicker::ShowFolderDialog(wxWindow* parent, const wxString& message,
                                    const wxString& start, wxString& chosen)
{
    wxDirDialog dialog(parent, message, start, wxDD_DEFAULT_STYLE);
    if (dialog.ShowModal() != wxID_OK)
        return false;
    chosen = dialog.GetPath();
    return true;
}
