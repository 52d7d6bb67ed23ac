#pragma once

#include <wx/dialog.h>

class UpdateDlg : public wxDialog
{
public:
    UpdateDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~UpdateDlg() override;
};
