#pragma once

#include <wx/dialog.h>

class OptionsDlg : public wxDialog
{
public:
    OptionsDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~OptionsDlg() override;
};
