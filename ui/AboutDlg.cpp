#include "ui/AboutDlg.h"

#include "resources/Icons.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

// Identifiers are drawn once at program start, in this order.
const long AboutDlg::ID_STATICBITMAP1 = wxNewId();
const long AboutDlg::ID_STATICTEXT1 = wxNewId();
const long AboutDlg::ID_STATICTEXT2 = wxNewId();
const long AboutDlg::ID_HYPERLINKCTRL3 = wxNewId();
const long AboutDlg::ID_BUTTON1 = wxNewId();

namespace
{
constexpr int kBorder = 5;
constexpr int kCentred = wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;
// Expanded items go without the centring flags: the toolkit asserts that wxEXPAND overrides
// alignment in box sizers, so they would have had no effect.
constexpr int kExpanded = wxALL | wxEXPAND;
// Translatable so that a language can point at its own page of the site.
const char* const kSiteUrl = wxTRANSLATE("https://www.velmorra.example/norvik");
} // namespace

AboutDlg::AboutDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
{
    Create(parent, id, wxString(), pos, size, wxDEFAULT_DIALOG_STYLE, "id");
    auto* root = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);

    picture =
        new wxStaticBitmap(this, ID_STATICBITMAP1, wxNullBitmap, wxDefaultPosition,
                           wxSize(kPictureSize, kPictureSize), wxBORDER_SIMPLE, "ID_STATICBITMAP1");
    row->Add(picture, 1, wxALL | kCentred, kBorder);

    auto* textColumn = new wxBoxSizer(wxVERTICAL);
    nameText = new wxStaticText(this, ID_STATICTEXT1, _("Norvik"), wxDefaultPosition, wxDefaultSize,
                                0, "ID_STATICTEXT1");
    textColumn->Add(nameText, 0, kExpanded, kBorder);
    makerText = new wxStaticText(this, ID_STATICTEXT2,
                                 _("Made by Velmorra. Saves online videos to your folders."),
                                 wxDefaultPosition, wxDefaultSize, 0, "ID_STATICTEXT2");
    textColumn->Add(makerText, 0, kExpanded, kBorder);
    siteLink = new wxHyperlinkCtrl(
        this, ID_HYPERLINKCTRL3, _(kSiteUrl), _(kSiteUrl), wxDefaultPosition, wxDefaultSize,
        wxHL_CONTEXTMENU | wxNO_BORDER | wxHL_ALIGN_LEFT, "ID_HYPERLINKCTRL3");
    textColumn->Add(siteLink, 1, wxEXPAND, kBorder);
    okButton = new wxButton(this, ID_BUTTON1, _("Ok"), wxDefaultPosition, wxDefaultSize, 0,
                            wxDefaultValidator, "ID_BUTTON1");
    okButton->SetFocus();
    textColumn->Add(okButton, 1, wxALL | kCentred, kBorder);
    row->Add(textColumn, 1, kExpanded, kBorder);
    root->Add(row, 1, wxALL | kCentred, kBorder);

    SetSizer(root);
    root->Fit(this);
    root->SetSizeHints(this);

    Bind(wxEVT_BUTTON, &AboutDlg::OnOk, this, ID_BUTTON1);

    // Set after layout, as the picture was laid out at its fixed size without one.
    picture->SetIcon(Icons::GetNk(kPictureSize));
}

AboutDlg::~AboutDlg() = default;

void AboutDlg::OnOk(wxCommandEvent&)
{
    Close(false);
}
