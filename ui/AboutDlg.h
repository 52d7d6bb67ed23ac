#pragma once

#include <wx/dialog.h>

class wxButton;
class wxHyperlinkCtrl;
class wxStaticBitmap;
class wxStaticText;

// The program's picture, name, maker and web site.
class AboutDlg : public wxDialog
{
public:
    static const long ID_STATICBITMAP1;
    static const long ID_STATICTEXT1;
    static const long ID_STATICTEXT2;
    static const long ID_HYPERLINKCTRL3;
    static const long ID_BUTTON1;

    // Side of the square picture, in pixels.
    static constexpr int kPictureSize = 128;

    AboutDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~AboutDlg() override;

    wxStaticBitmap* picture = nullptr;
    wxStaticText* nameText = nullptr;
    wxStaticText* makerText = nullptr;
    wxHyperlinkCtrl* siteLink = nullptr;
    wxButton* okButton = nullptr;

private:
    void OnOk(wxCommandEvent& event);
};
