#pragma once

#include <wx/dialog.h>

class wxButton;
class wxHyperlinkCtrl;
class wxStaticText;

// Tells the user a newer version is published and links to its download page.
class UpdateDlg : public wxDialog
{
public:
    static const long ID_STATICTEXT1;
    static const long ID_STATICTEXT2;
    static const long ID_HYPERLINKCTRL1;
    static const long ID_BUTTON1;

    // The font of the headline.
    static constexpr int kHeadlinePointSize = 13;

    UpdateDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~UpdateDlg() override;

    wxStaticText* headlineText = nullptr;
    wxStaticText* questionText = nullptr;
    wxHyperlinkCtrl* downloadLink = nullptr;
    wxButton* dismissButton = nullptr;

private:
    void OnDismiss(wxCommandEvent& event);
};
