#include "ui/OptionsDlg.h"

OptionsDlg::OptionsDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxDialog(parent, id, wxString(), pos, size)
{
}

OptionsDlg::~OptionsDlg() = default;
