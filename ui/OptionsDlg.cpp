#include "ui/OptionsDlg.h"

#include "config/AppConfig.h"
#include "ui/FolderPicker.h"
#include "update/ToolUpdates.h"
#include "update/ToolsInUse.h"
#include "update/UpdateCheck.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/datetime.h>
#include <wx/gauge.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <thread>

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
// The browsers offered, in the settings' order; "None" comes first.
const char* const kBrowserLabels[] = {"Firefox", "Chromium", "Chrome", "Brave",
                                      "Edge",    "Opera",    "Vivaldi"};
constexpr int kGaugeRange = 100;
// A GiB/s per download is more than any line gives: the field need not go further.
constexpr int kMaxSpeedLimitKiB = 1024 * 1024;

wxString StageText(ToolUpdater::Stage stage)
{
    switch (stage)
    {
    case ToolUpdater::Stage::CheckingResolver:
        return _("Checking yt-dlp...");
    case ToolUpdater::Stage::DownloadingResolver:
        return _("Downloading yt-dlp...");
    case ToolUpdater::Stage::CheckingJsRuntime:
        return _("Checking the JavaScript runtime...");
    case ToolUpdater::Stage::DownloadingJsRuntime:
        return _("Downloading the JavaScript runtime...");
    }
    return wxString();
}

wxString ToolText(const wxString& label, const ToolsInUse::Tool& tool)
{
    if (tool.path.empty())
        return wxString::Format(_("%s: none found"), label);
    const wxString version =
        tool.version.empty() ? _("version unknown") : wxString::FromUTF8(tool.version);
    return wxString::Format(tool.own ? _("%s: %s (Norvik's copy)") : _("%s: %s (the system's)"),
                            label, version);
}
} // namespace

// Written once by the probing thread, read by the poll on the GUI thread.
struct OptionsDlg::ToolsReport
{
    std::mutex lock;
    bool done = false;
    ToolsInUse::Tool resolver;
    ToolsInUse::Tool jsRuntime;
};

OptionsDlg::OptionsDlg(wxWindow* parent, wxWindowID, const wxPoint&, const wxSize&)
{
    Create(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE,
           "wxID_ANY");
    BuildLayout();

    Bind(wxEVT_BUTTON, &OptionsDlg::OnBrowseAudio, this, ID_BUTTON2);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnBrowseVideo, this, ID_BUTTON1);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnCancel, this, ID_BUTTON3);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnSave, this, ID_BUTTON4);
    Bind(wxEVT_BUTTON, &OptionsDlg::OnUpdateNow, this, updateNowButton->GetId());
    pollTimer.Bind(wxEVT_TIMER, &OptionsDlg::OnPoll, this);

    LoadSettings();
    seenChecks = UpdateCheck::Current().finishedChecks;
    ShowLastCheck();
    ProbeTools();
    pollTimer.Start(kPollMs);
}

OptionsDlg::~OptionsDlg()
{
    pollTimer.Stop();
}

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
    BuildDownloadsBox(rows);
    BuildToolsBox(rows);
    rows->Add(buttonRow, 0, kExpanded, kBorder);
    root->Add(rows, 1, kExpanded, kBorder);

    SetSizer(root);
    root->Fit(this);
    root->SetSizeHints(this);
}

void OptionsDlg::BuildDownloadsBox(wxSizer* rows)
{
    auto* box = new wxStaticBoxSizer(wxVERTICAL, this, _("Downloads"));
    watchClipboardCheck =
        new wxCheckBox(this, wxID_ANY, _("Watch the clipboard for video addresses"),
                       wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator, "WatchClipboard");
    box->Add(watchClipboardCheck, 0, wxALL | wxEXPAND, kBorder);
    auto* limitRow = new wxBoxSizer(wxHORIZONTAL);
    limitRow->Add(new wxStaticText(this, wxID_ANY, _("Limit each download to")), 0,
                  wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    speedLimitSpin = new wxSpinCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                                    wxSP_ARROW_KEYS, 0, kMaxSpeedLimitKiB, 0, "SpeedLimitKiB");
    speedLimitSpin->SetToolTip(_("0 for no limit"));
    limitRow->Add(speedLimitSpin, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    limitRow->Add(new wxStaticText(this, wxID_ANY, _("KiB/s")), 0, wxALL | wxALIGN_CENTER_VERTICAL,
                  kBorder);
    box->Add(limitRow, 0, wxEXPAND);
    resumeAtStartCheck =
        new wxCheckBox(this, wxID_ANY, _("Resume interrupted downloads when Norvik starts"),
                       wxDefaultPosition, wxDefaultSize, 0, wxDefaultValidator, "ResumeAtStart");
    box->Add(resumeAtStartCheck, 0, wxALL | wxEXPAND, kBorder);
    rows->Add(box, 0, kExpanded, kBorder);
}

void OptionsDlg::BuildToolsBox(wxSizer* rows)
{
    auto* toolsBox = new wxStaticBoxSizer(wxVERTICAL, this, _("Looking up videos"));
    auto* browserRow = new wxBoxSizer(wxHORIZONTAL);
    browserRow->Add(new wxStaticText(this, wxID_ANY, _("Use the sign-in of this browser:")), 0,
                    wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    browserChoice = new wxChoice(this, wxID_ANY);
    browserChoice->Append(_("None"));
    for (const char* label : kBrowserLabels)
        browserChoice->Append(label);
    browserRow->Add(browserChoice, 1, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    toolsBox->Add(browserRow, 0, wxEXPAND);

    resolverText = new wxStaticText(this, wxID_ANY, _("yt-dlp: looking..."));
    jsRuntimeText = new wxStaticText(this, wxID_ANY, wxString());
    lastCheckText = new wxStaticText(this, wxID_ANY, wxString());
    for (wxStaticText* line : {resolverText, jsRuntimeText, lastCheckText})
        toolsBox->Add(line, 0, wxALL | wxEXPAND, kBorder);

    auto* updateRow = new wxBoxSizer(wxHORIZONTAL);
    updateNowButton = new wxButton(this, wxID_ANY, _("Update now"));
    updateRow->Add(updateNowButton, 0, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    progressGauge = new wxGauge(this, wxID_ANY, kGaugeRange);
    progressGauge->Hide();
    updateRow->Add(progressGauge, 1, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    progressText = new wxStaticText(this, wxID_ANY, wxString());
    updateRow->Add(progressText, 1, wxALL | wxALIGN_CENTER_VERTICAL, kBorder);
    toolsBox->Add(updateRow, 0, wxEXPAND);
    rows->Add(toolsBox, 0, kExpanded, kBorder);
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
    watchClipboardCheck->SetValue(settings.GetWatchClipboard());
    speedLimitSpin->SetValue(int(std::min<long>(settings.GetSpeedLimitKiB(), kMaxSpeedLimitKiB)));
    resumeAtStartCheck->SetValue(settings.GetResumeAtStart());
    const int browser = AppConfig::SignInBrowsers().Index(settings.GetBrowserSignIn());
    browserChoice->SetSelection(browser == wxNOT_FOUND ? 0 : browser + 1);
    updateNowButton->Enable(ToolUpdates::Enabled(settings));
}

void OptionsDlg::ProbeTools()
{
    const AppConfig settings;
    const bool ownCopies = ToolUpdates::Enabled(settings);
    const std::string folder = ToolUpdater::DefaultFolder();
    // Only read; the program writes its environment only at start-up
    // (app/StartupEnvironment), before any thread of ours runs.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* path = std::getenv("PATH");
    const std::string searchPath = path ? path : "";
    toolsReport = std::make_shared<ToolsReport>();
    toolsShown = false;
    std::thread(
        [report = toolsReport, folder, ownCopies, searchPath]
        {
            const ToolsInUse::Tool resolver =
                ToolsInUse::Find(ToolUpdater::kResolverName, folder, ownCopies, searchPath);
            const ToolsInUse::Tool jsRuntime =
                ToolsInUse::Find(ToolUpdater::kJsRuntimeName, folder, ownCopies, searchPath);
            const std::lock_guard<std::mutex> hold(report->lock);
            report->resolver = resolver;
            report->jsRuntime = jsRuntime;
            report->done = true;
        })
        .detach();
}

void OptionsDlg::ShowLastCheck()
{
    const AppConfig settings;
    if (!ToolUpdates::Enabled(settings))
    {
        lastCheckText->SetLabel(_("Norvik keeps no yt-dlp of its own (turned off in the settings, "
                                  "or another service is used)."));
        return;
    }
    const wxString result = settings.GetToolCheckResult();
    const wxDateTime when(time_t(settings.GetToolCheckTime()));
    const bool today = settings.GetToolCheckTime() > 0 && when.IsSameDate(wxDateTime::Now());
    wxString text;
    if (settings.GetToolCheckTime() <= 0 || result.empty())
        text = _("Last check: never");
    else if (result == ToolUpdates::kCurrent)
        text =
            today ? _("Last check: up to date, checked today")
                  : wxString::Format(_("Last check: up to date, checked on %s"), when.FormatDate());
    else if (result.StartsWith(ToolUpdates::kUpdatedPrefix))
        text = wxString::Format(_("Last check: updated to %s"),
                                result.Mid(wxStrlen(ToolUpdates::kUpdatedPrefix)));
    else
        text = wxString::Format(_("Last check: could not check: %s"),
                                result.Mid(wxStrlen(ToolUpdates::kFailedPrefix)));
    lastCheckText->SetLabel(text);
}

void OptionsDlg::OnPoll(wxTimerEvent&)
{
    if (!toolsShown && toolsReport)
    {
        const std::lock_guard<std::mutex> hold(toolsReport->lock);
        if (toolsReport->done)
        {
            toolsShown = true;
            resolverText->SetLabel(ToolText("yt-dlp", toolsReport->resolver));
            jsRuntimeText->SetLabel(
                toolsReport->jsRuntime.path.empty()
                    ? _("JavaScript runtime: none")
                    : ToolText(_("JavaScript runtime"), toolsReport->jsRuntime));
        }
    }
    const UpdateCheck::Snapshot check = UpdateCheck::Current();
    if (check.running)
    {
        progressGauge->Show();
        progressGauge->Pulse();
        progressText->SetLabel(StageText(check.stage));
        updateNowButton->Disable();
    }
    else if (progressGauge->IsShown())
    {
        progressGauge->Hide();
        progressText->SetLabel(wxString());
        updateNowButton->Enable(ToolUpdates::Enabled(AppConfig()));
    }
    if (check.finishedChecks != seenChecks)
    {
        // The outcome reaches the settings through the application's queue, ahead of this.
        seenChecks = check.finishedChecks;
        const wxWeakRef<OptionsDlg> dialog(this);
        wxTheApp->CallAfter(
            [dialog]
            {
                if (dialog)
                    dialog->ShowLastCheck();
            });
        ProbeTools();
    }
    Layout();
}

void OptionsDlg::OnUpdateNow(wxCommandEvent&)
{
    if (ToolUpdates::StartNow())
    {
        updateNowButton->Disable();
        progressGauge->Show();
        progressText->SetLabel(StageText(ToolUpdater::Stage::CheckingResolver));
        Layout();
    }
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
    settings.SetWatchClipboard(watchClipboardCheck->GetValue());
    settings.SetSpeedLimitKiB(speedLimitSpin->GetValue());
    settings.SetResumeAtStart(resumeAtStartCheck->GetValue());
    const int browser = browserChoice->GetSelection();
    settings.SetBrowserSignIn(browser > 0 ? AppConfig::SignInBrowsers()[size_t(browser - 1)]
                                          : wxString());
    // Ticking the box is the user's newest word, over a switch turned off in the desktop's
    // settings.
    if (!settings.UpdateAutorunEntry(AutostartEntry::Switch::TurnOn) && autorunCheck->GetValue())
        wxMessageBox(_("Norvik cannot start at log-on from this folder: other users can change "
                       "the program there, or the entry cannot be written."),
                     wxMessageBoxCaptionStr, wxOK | wxCENTRE | wxICON_WARNING, this);
    Close(false);
}
