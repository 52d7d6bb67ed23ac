#include "ui/UpdateDlg.h"

UpdateDlg::UpdateDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxDialog(parent, id, wxString(), pos, size)
{
}

UpdateDlg::~UpdateDlg() = default;
