#include "ui/OptionsDlg.h"

#include "config/AppConfig.h"
#include "ui/FolderPicker.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

// Identifiers are drawn once at program start, in this order.
const long OptionsDlg::ID_TEXTCTRL2 = wxNewId();
const long OptionsDlg::ID_BUTTON2 = wxNewId();
const long OptionsDlg::ID_TEXTCTRL1 = wxNewId();
const long OptionsDlg::ID_BUTTON1 = wxNewId();
const long OptionsDlg::ID_CHECKBOX1 = wxNewId();
const long OptionsDlg::ID_BUTTON3 = wxNewId();
const long OptionsDlg::ID_BUTTON4 = wxNewId();

namespace
{
constexpr int kBorder = 5;
constexpr int kCentred = wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;
// Expanded items go without the centring flags: the toolkit asserts that wxEXPAND overrides
// alignment in box sizers, so they would have had no effect.
constexpr int kExpanded = wxALL | wxEXPAND;
constexpr int kPathMinWidth = 300;
// The browse buttons stay small squares where the label allows; on GTK a button's padding
// leaves no room for "..." at this size, so they grow to what the label needs.
const wxSize kBrowseButtonSize(24, 24);
} // namespace

OptionsDlg::OptionsDlg(wxWindow* parent, wxWindowID, const wxPoint&, const wxSize&)
{
    Create(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
           "wxID_ANY");
    BuildLayout();

    Bind(wxEVT_BUTTON, &OptionsDlg::OnBrowseAudio, this, ID_BUTTON2);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnBrowseVideo, this, ID_BUTTON1);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnCancel, this, ID_BUTTON3);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnSave, this, ID_BUTTON4);

    LoadSettings();
}

OptionsDlg::~OptionsDlg() = default;

void OptionsDlg::BuildLayout()
{
    auto* root = new wxBoxSizer(wxVERTICAL);
    auto* rows = new wxBoxSizer(wxVERTICAL);

    auto* audioBox = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Audio Save Path"));
    auto* videoBox = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Video Save Path"));
    auto* configBox = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Configuration"));
    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);

    audioPathText = new wxTextCtrl(this, ID_TEXTCTRL2, wxString(), wxDefaultPosition, wxDefaultSize,
                                   wxTE_READONLY, wxDefaultValidator, "ID_TEXTCTRL2");
    audioPathText->SetMinSize(wxSize(kPathMinWidth, wxDefaultCoord));
    audioBox->Add(audioPathText, 1, kExpanded, kBorder);
    audioBrowseButton = MakeBrowseButton(ID_BUTTON2, "ID_BUTTON2");
    audioBox->Add(audioBrowseButton, 0, wxALL | wxSHAPED | kCentred, kBorder);

    videoPathText = new wxTextCtrl(this, ID_TEXTCTRL1, wxString(), wxDefaultPosition, wxDefaultSize,
                                   wxTE_READONLY, wxDefaultValidator, "ID_TEXTCTRL1");
    videoPathText->SetMinSize(wxSize(kPathMinWidth, wxDefaultCoord));
    videoBox->Add(videoPathText, 1, wxALL | kCentred, kBorder);
    videoBrowseButton = MakeBrowseButton(ID_BUTTON1, "ID_BUTTON1");
    videoBox->Add(videoBrowseButton, 0, wxALL | kCentred, kBorder);

    autorunCheck =
        new wxCheckBox(this, ID_CHECKBOX1, _("Automatically start Norvik"), wxDefaultPosition,
                       wxDefaultSize, 0, wxDefaultValidator, "ID_CHECKBOX1");
    autorunCheck->SetValue(false);
    configBox->Add(autorunCheck, 1, wxALL | kCentred, kBorder);

    buttonRow->Add(wxDefaultCoord, wxDefaultCoord, 1, wxALL | kCentred, kBorder);
    cancelButton = new wxButton(this, ID_BUTTON3, _("Cancel"), wxDefaultPosition, wxDefaultSize, 0,
                                wxDefaultValidator, "ID_BUTTON3");
    buttonRow->Add(cancelButton, 1, wxALL | kCentred, kBorder);
    saveButton = new wxButton(this, ID_BUTTON4, _("Save"), wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, "ID_BUTTON4");
    buttonRow->Add(saveButton, 1, wxALL | kCentred, kBorder);

    rows->Add(audioBox, 1, kExpanded, kBorder);
    rows->Add(videoBox, 1, kExpanded, kBorder);
    rows->Add(configBox, 1, kExpanded, kBorder);
    rows->Add(buttonRow, 0, kExpanded, kBorder);
    root->Add(rows, 1, kExpanded, kBorder);

    SetSizer(root);
    root->Fit(this);
    root->SetSizeHints(this);
}

wxButton* OptionsDlg::MakeBrowseButton(long id, const wxString& name)
{
    auto* button = new wxButton(this, id, _("..."), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT,
                                wxDefaultValidator, name);
    wxSize size = button->GetBestSize();
    size.IncTo(kBrowseButtonSize);
    button->SetMinSize(size);
    button->SetSize(size);
    return button;
}

void OptionsDlg::LoadSettings()
{
    const AppConfig settings;
    videoPathText->SetValue(settings.GetVideoPath());
    audioPathText->SetValue(settings.GetAudioPath());
    autorunCheck->SetValue(settings.GetAutorun());
}

void OptionsDlg::PickFolderInto(wxTextCtrl* field, const wxString& message)
{
    wxString chosen;
    if (FolderPicker::Pick(this, message, field->GetValue(), chosen))
        field->SetValue(chosen);
}

void OptionsDlg::OnBrowseAudio(wxCommandEvent&)
{
    PickFolderInto(audioPathText, _("Select a path where save audio files"));
}

void OptionsDlg::OnBrowseVideo(wxCommandEvent&)
{
    PickFolderInto(videoPathText, _("Select a path where save video files"));
}

void OptionsDlg::OnCancel(wxCommandEvent&)
{
    Close(false);
}

void OptionsDlg::OnSave(wxCommandEvent&)
{
    // Every value is written, changed or not, so the file always holds the full set; the
    // store goes out of scope, and so writes the file, before the handler returns.
    AppConfig settings;
    settings.SetVideoPath(videoPathText->GetValue());
    settings.SetAudioPath(audioPathText->GetValue());
    settings.SetAutorun(autorunCheck->GetValue());
    // Ticking the box is the user's newest word, over a switch turned off in the desktop's
    // settings.
    if (!settings.UpdateAutorunEntry(AutostartEntry::Switch::TurnOn) && autorunCheck->GetValue())
        wxMessageBox(_("Norvik cannot start at log-on from this folder: other users can change "
                       "the program there, or the entry cannot be written."),
                     wxMessageBoxCaptionStr, wxOK | wxCENTRE | wxICON_WARNING, this);
    Close(false);
}
