#include "ui/UpdateDlg.h"

#include <wx/button.h>
#include <wx/font.h>
#include <wx/hyperlink.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

// Identifiers are drawn once at program start, in this order.
const long UpdateDlg::ID_STATICTEXT1 = wxNewId();
const long UpdateDlg::ID_STATICTEXT2 = wxNewId();
const long UpdateDlg::ID_HYPERLINKCTRL1 = wxNewId();
const long UpdateDlg::ID_BUTTON1 = wxNewId();

namespace
{
constexpr int kBorder = 5;
constexpr int kItemFlags = wxALL | wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;
// Translatable so that a language can point at its own download page.
const char* const kDownloadUrl = wxTRANSLATE("https://www.velmorra.example/norvik");
const wxString kHeadlineFace = "Sans";
} // namespace

UpdateDlg::UpdateDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
{
    Create(parent, id, _("Norvik Update"), pos, size, wxDEFAULT_DIALOG_STYLE, "id");
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(wxDefaultCoord, wxDefaultCoord, 1, kItemFlags, kBorder);

    headlineText = new wxStaticText(this, ID_STATICTEXT1, _("An update for this app is available."),
                                    wxDefaultPosition, wxDefaultSize, 0, "ID_STATICTEXT1");
    headlineText->SetFont(wxFont(kHeadlinePointSize, wxFONTFAMILY_SWISS, wxFONTSTYLE_NORMAL,
                                 wxFONTWEIGHT_NORMAL, false, kHeadlineFace,
                                 wxFONTENCODING_DEFAULT));
    column->Add(headlineText, 1, kItemFlags, kBorder);

    questionText = new wxStaticText(this, ID_STATICTEXT2, _("Do you want to download it now?"),
                                    wxDefaultPosition, wxDefaultSize, 0, "ID_STATICTEXT2");
    column->Add(questionText, 1, kItemFlags, kBorder);

    downloadLink = new wxHyperlinkCtrl(
        this, ID_HYPERLINKCTRL1, _("Download Now"), _(kDownloadUrl), wxDefaultPosition,
        wxDefaultSize, wxHL_CONTEXTMENU | wxNO_BORDER | wxHL_ALIGN_LEFT, "ID_HYPERLINKCTRL1");
    column->Add(downloadLink, 1, kItemFlags, kBorder);

    dismissButton = new wxButton(this, ID_BUTTON1, _("Dismiss"), wxDefaultPosition, wxDefaultSize,
                                 0, wxDefaultValidator, "ID_BUTTON1");
    column->Add(dismissButton, 1, kItemFlags, kBorder);

    SetSizer(column);
    column->Fit(this);
    column->SetSizeHints(this);

    Bind(wxEVT_BUTTON, &UpdateDlg::OnDismiss, this, ID_BUTTON1);
}

UpdateDlg::~UpdateDlg() = default;

void UpdateDlg::OnDismiss(wxCommandEvent&)
{
    Close(false);
}
