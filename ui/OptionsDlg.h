#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <memory>

class wxButton;
class wxCheckBox;
class wxChoice;
class wxGauge;
class wxSpinCtrl;
class wxStaticText;
class wxTextCtrl;

// The settings window: where audio and video files are saved, whether Norvik starts at
// log-on, and whose browser sign-in yt-dlp uses. Nothing reaches the settings file until
// Save. It also shows the tools in use and runs a check of them ("Update now") on the
// background check's worker, polled here, so the dialog stays usable meanwhile.
class OptionsDlg : public wxDialog
{
public:
    static const long ID_TEXTCTRL2;
    static const long ID_BUTTON2;
    static const long ID_TEXTCTRL1;
    static const long ID_BUTTON1;
    static const long ID_CHECKBOX1;
    static const long ID_BUTTON3;
    static const long ID_BUTTON4;

    OptionsDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    ~OptionsDlg() override;

    wxTextCtrl* audioPathText = nullptr;
    wxButton* audioBrowseButton = nullptr;
    wxTextCtrl* videoPathText = nullptr;
    wxButton* videoBrowseButton = nullptr;
    wxCheckBox* autorunCheck = nullptr;
    wxCheckBox* watchClipboardCheck = nullptr;
    wxSpinCtrl* speedLimitSpin = nullptr;
    wxCheckBox* resumeAtStartCheck = nullptr;
    wxButton* cancelButton = nullptr;
    wxButton* saveButton = nullptr;
    wxChoice* browserChoice = nullptr;
    wxStaticText* resolverText = nullptr;
    wxStaticText* jsRuntimeText = nullptr;
    wxStaticText* lastCheckText = nullptr;
    wxStaticText* progressText = nullptr;
    wxGauge* progressGauge = nullptr;
    wxButton* updateNowButton = nullptr;

    // How often the check and the tools' versions are polled.
    static constexpr int kPollMs = 200;

private:
    struct ToolsReport;

    void BuildToolsBox(wxSizer* rows);
    void BuildDownloadsBox(wxSizer* rows);
    // Asks the tools for their versions on a thread of its own; the poll shows the answer.
    void ProbeTools();
    void ShowLastCheck();
    void OnPoll(wxTimerEvent& event);
    void OnUpdateNow(wxCommandEvent& event);

    void BuildLayout();
    wxButton* MakeBrowseButton(long id, const wxString& name);
    void LoadSettings();
    // Replaces the field's text only when the user confirms a folder.
    void PickFolderInto(wxTextCtrl* field, const wxString& message);

    void OnBrowseAudio(wxCommandEvent& event);
    void OnBrowseVideo(wxCommandEvent& event);
    void OnCancel(wxCommandEvent& event);
    void OnSave(wxCommandEvent& event);

    wxTimer pollTimer;
    // Shared with the probing thread, which may outlive the dialog.
    std::shared_ptr<ToolsReport> toolsReport;
    bool toolsShown = false;
    unsigned long seenChecks = 0;
};
