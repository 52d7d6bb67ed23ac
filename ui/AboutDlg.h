#pragma once

#include <wx/dialog.h>

class AboutDlg : public wxDialog
{
public:
    AboutDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~AboutDlg() override;
};
