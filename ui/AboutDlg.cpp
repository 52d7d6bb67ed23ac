#include "ui/AboutDlg.h"

AboutDlg::AboutDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxDialog(parent, id, wxString(), pos, size)
{
}

AboutDlg::~AboutDlg() = default;
