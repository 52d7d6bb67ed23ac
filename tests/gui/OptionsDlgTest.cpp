#include "support/GuiTestSupport.h"
#include "support/TempDir.h"

#include "config/AppConfig.h"
#include "config/AutostartEntry.h"
#include "ui/FolderPicker.h"
#include "ui/NorvikFrame.h"
#include "ui/OptionsDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/filename.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stdpaths.h>
#include <wx/textctrl.h>

#include <functional>
#include <vector>

// The toolkit leaves expectations of an application's own dialogs to the application.
template <> class wxExpectModal<OptionsDlg> : public wxExpectDismissableModal<OptionsDlg>
{
public:
    explicit wxExpectModal(int id) : wxExpectDismissableModal<OptionsDlg>(id) {}
};

namespace
{
const wxString kPickedAudio = "/tmp/picked-audio";
const wxString kPickedVideo = "/tmp/picked-video";
const wxString kStoredAudio = "/tmp/stored-audio";
const wxString kStoredVideo = "/tmp/stored-video";
constexpr int kPathMinWidth = 300;
const wxSize kBrowseButtonSize(24, 24);
constexpr long kCloseWaitMs = 2000;

wxString SettingsFilePath()
{
    return wxGetHomeDir() + "/.Norvik";
}

void StoreSettings(const wxString& audio, const wxString& video, bool autorun)
{
    AppConfig settings;
    settings.SetAudioPath(audio);
    settings.SetVideoPath(video);
    settings.SetAutorun(autorun);
}

using OptionsDlgThen = ModalThen<OptionsDlg>;

// One call to the folder picker, as the dialog made it.
struct PickRequest
{
    wxWindow* parent = nullptr;
    wxString message;
    wxString start;
};

class OptionsDlgTest : public testing::Test
{
protected:
    void SetUp() override
    {
        savedPicker = FolderPicker::pick;
        wxRemoveFile(SettingsFilePath());
        AutostartEntry::Remove();
        // Any use of the picker not set up by the test is a fault, not a dialog to hang on.
        FolderPicker::pick = [](wxWindow*, const wxString& message, const wxString&, wxString&)
        {
            ADD_FAILURE() << "unexpected folder picker: " << message;
            return false;
        };
    }
    void TearDown() override
    {
        FolderPicker::pick = savedPicker;
        wxRemoveFile(SettingsFilePath());
        AutostartEntry::Remove();
    }

    // The picker answers every request with the given folder, or as cancelled when empty.
    void AnswerPicker(const wxString& answer)
    {
        FolderPicker::pick = [this, answer](wxWindow* parent, const wxString& message,
                                            const wxString& start, wxString& chosen)
        {
            requests.push_back({parent, message, start});
            if (answer.empty())
                return false;
            chosen = answer;
            return true;
        };
    }

    static void Click(wxWindow& dlg, long id)
    {
        wxWindow* button = dlg.FindWindow(id);
        ASSERT_NE(nullptr, button) << id;
        wxCommandEvent click(wxEVT_BUTTON, id);
        click.SetEventObject(button);
        button->ProcessWindowEvent(click);
    }

    static wxTextCtrl* Field(wxWindow& dlg, const char* name)
    {
        return dynamic_cast<wxTextCtrl*>(wxWindow::FindWindowByName(name, &dlg));
    }

    static wxCheckBox* Autorun(wxWindow& dlg)
    {
        return dynamic_cast<wxCheckBox*>(wxWindow::FindWindowByName("ID_CHECKBOX1", &dlg));
    }

    std::vector<PickRequest> requests;

private:
    FolderPicker::PickFunction savedPicker;
};
} // namespace

TEST_F(OptionsDlgTest, ControlsCarryTheirNamesLabelsAndStylesInCreationOrder)
{
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    const char* names[] = {"ID_TEXTCTRL2", "ID_BUTTON2", "ID_TEXTCTRL1", "ID_BUTTON1",
                           "ID_CHECKBOX1", "ID_BUTTON3", "ID_BUTTON4"};
    const long ids[] = {OptionsDlg::ID_TEXTCTRL2, OptionsDlg::ID_BUTTON2,
                        OptionsDlg::ID_TEXTCTRL1, OptionsDlg::ID_BUTTON1,
                        OptionsDlg::ID_CHECKBOX1, OptionsDlg::ID_BUTTON3,
                        OptionsDlg::ID_BUTTON4};
    const wxWindowList& children = dlg.GetChildren();
    int last = -1;
    for (size_t i = 0; i < WXSIZEOF(names); ++i)
    {
        wxWindow* w = wxWindow::FindWindowByName(names[i], &dlg);
        ASSERT_NE(nullptr, w) << names[i];
        EXPECT_EQ(ids[i], w->GetId()) << names[i];
        const int at = children.IndexOf(w);
        EXPECT_GT(at, last) << names[i];
        last = at;
    }
    // Drawn in declaration order at start-up.
    for (size_t i = 1; i < WXSIZEOF(ids); ++i)
        EXPECT_GT(ids[i], ids[i - 1]);

    EXPECT_EQ("wxID_ANY", dlg.GetName());
    EXPECT_EQ("", dlg.GetTitle());
    for (const char* name : {"ID_TEXTCTRL2", "ID_TEXTCTRL1"})
    {
        wxTextCtrl* field = Field(dlg, name);
        ASSERT_NE(nullptr, field);
        EXPECT_TRUE(field->HasFlag(wxTE_READONLY)) << name;
        EXPECT_EQ(kPathMinWidth, field->GetMinSize().x) << name;
        EXPECT_GE(field->GetSize().x, kPathMinWidth) << name;
    }
    for (long id : {OptionsDlg::ID_BUTTON2, OptionsDlg::ID_BUTTON1})
    {
        auto* browse = dynamic_cast<wxButton*>(dlg.FindWindow(id));
        ASSERT_NE(nullptr, browse);
        EXPECT_EQ("...", browse->GetLabel());
        // At least the small square; wider only as far as the label needs.
        EXPECT_GE(browse->GetMinSize().x, kBrowseButtonSize.x);
        EXPECT_GE(browse->GetMinSize().y, kBrowseButtonSize.y);
    }
    EXPECT_EQ("Automatically start Norvik", Autorun(dlg)->GetLabel());
    EXPECT_EQ("Cancel", dlg.FindWindow(OptionsDlg::ID_BUTTON3)->GetLabel());
    EXPECT_EQ("Save", dlg.FindWindow(OptionsDlg::ID_BUTTON4)->GetLabel());
}

TEST_F(OptionsDlgTest, BoxesAreTitledAndTheDialogStartsAtItsMinimumSize)
{
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    std::vector<wxString> boxTitles;
    for (wxWindow* child : dlg.GetChildren())
        if (auto* box = dynamic_cast<wxStaticBox*>(child))
            boxTitles.push_back(box->GetLabel());
    const std::vector<wxString> expected = {"Audio Save Path", "Video Save Path", "Configuration",
                                            "Downloads", "Looking up videos"};
    EXPECT_EQ(expected, boxTitles);
    EXPECT_EQ(dlg.GetMinSize(), dlg.GetSize());
    // The audio row comes first, above the video row.
    EXPECT_LT(Field(dlg, "ID_TEXTCTRL2")->GetPosition().y,
              Field(dlg, "ID_TEXTCTRL1")->GetPosition().y);
    EXPECT_LT(Field(dlg, "ID_TEXTCTRL1")->GetPosition().y, Autorun(dlg)->GetPosition().y);
}

TEST_F(OptionsDlgTest, WithoutSettingsFileShowsDocumentsFolderAndAutorunOn)
{
    ASSERT_FALSE(wxFileExists(SettingsFilePath()));
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    const wxString documents = wxStandardPaths::Get().GetDocumentsDir();
    ASSERT_FALSE(documents.empty());
    EXPECT_EQ(documents, Field(dlg, "ID_TEXTCTRL2")->GetValue());
    EXPECT_EQ(documents, Field(dlg, "ID_TEXTCTRL1")->GetValue());
    EXPECT_TRUE(Autorun(dlg)->GetValue());
    EXPECT_FALSE(wxFileExists(SettingsFilePath())) << "opening the dialog writes nothing";
}

TEST_F(OptionsDlgTest, ShowsTheStoredSettingsInTheirOwnFields)
{
    StoreSettings(kStoredAudio, kStoredVideo, false);
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    EXPECT_EQ(kStoredAudio, Field(dlg, "ID_TEXTCTRL2")->GetValue());
    EXPECT_EQ(kStoredVideo, Field(dlg, "ID_TEXTCTRL1")->GetValue());
    EXPECT_FALSE(Autorun(dlg)->GetValue());
}

TEST_F(OptionsDlgTest, SaveWithoutChangesWritesAllThreeKeysAndCloses)
{
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    Click(dlg, OptionsDlg::ID_BUTTON4);
    const wxString documents = wxStandardPaths::Get().GetDocumentsDir();
    const wxString text = ReadFileText(SettingsFilePath());
    EXPECT_NE(wxNOT_FOUND, text.Find("VideoPath=" + documents + "\n")) << text;
    EXPECT_NE(wxNOT_FOUND, text.Find("AudioPath=" + documents + "\n")) << text;
    EXPECT_NE(wxNOT_FOUND, text.Find("Autorun=1\n")) << text;
    EXPECT_TRUE(wxFileExists(AutostartEntry::GetFilePath()));
    EXPECT_TRUE(WaitFor([&] { return !dlg.IsShown(); }, kCloseWaitMs));
}

TEST_F(OptionsDlgTest, ClipboardWatchSpeedLimitAndResumeAreShownAndSaved)
{
    ASSERT_TRUE(WriteFileText(SettingsFilePath(), "WatchClipboard=0\nSpeedLimitKiB=512\n"));
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    EXPECT_FALSE(dlg.watchClipboardCheck->GetValue());
    EXPECT_EQ(512, dlg.speedLimitSpin->GetValue());
    EXPECT_FALSE(dlg.resumeAtStartCheck->GetValue());
    dlg.Show();
    dlg.watchClipboardCheck->SetValue(true);
    dlg.speedLimitSpin->SetValue(64);
    dlg.resumeAtStartCheck->SetValue(true);
    Click(dlg, OptionsDlg::ID_BUTTON4);
    const AppConfig saved;
    EXPECT_TRUE(saved.GetWatchClipboard());
    EXPECT_EQ(64, saved.GetSpeedLimitKiB());
    EXPECT_TRUE(saved.GetResumeAtStart());
}

TEST_F(OptionsDlgTest, UncheckingAndSavingRemovesTheAutostartEntryAtOnce)
{
    ASSERT_TRUE(AutostartEntry::Write(AppConfig().GetExecutablePath()));
    ASSERT_TRUE(wxFileExists(AutostartEntry::GetFilePath()));
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    Autorun(dlg)->SetValue(false);
    Click(dlg, OptionsDlg::ID_BUTTON4);
    EXPECT_FALSE(wxFileExists(AutostartEntry::GetFilePath()));
    EXPECT_FALSE(AppConfig().GetAutorun());
    EXPECT_NE(wxNOT_FOUND, ReadFileText(SettingsFilePath()).Find("Autorun=0\n"));
}

TEST_F(OptionsDlgTest, CheckingAndSavingWritesTheAutostartEntry)
{
    StoreSettings(kStoredAudio, kStoredVideo, false);
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    ASSERT_FALSE(Autorun(dlg)->GetValue());
    Autorun(dlg)->SetValue(true);
    Click(dlg, OptionsDlg::ID_BUTTON4);
    EXPECT_TRUE(wxFileExists(AutostartEntry::GetFilePath()));
    EXPECT_TRUE(AppConfig().GetAutorun());
    EXPECT_EQ(kStoredAudio, AppConfig().GetAudioPath()) << "unchanged paths are kept";
    EXPECT_EQ(kStoredVideo, AppConfig().GetVideoPath());
}

// The desktop's settings turned the start off; ticking the box and saving is the newer choice.
TEST_F(OptionsDlgTest, CheckingAndSavingTurnsOnAnEntryTheDesktopTurnedOff)
{
    ASSERT_TRUE(AutostartEntry::Write(AppConfig().GetExecutablePath()));
    const wxString path = AutostartEntry::GetFilePath();
    wxString text = ReadFileText(path);
    ASSERT_EQ(1u,
              text.Replace("X-GNOME-Autostart-enabled=true", "X-GNOME-Autostart-enabled=false"));
    ASSERT_TRUE(WriteFileText(path, text));
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    ASSERT_TRUE(Autorun(dlg)->GetValue());
    Click(dlg, OptionsDlg::ID_BUTTON4);
    text = ReadFileText(path);
    EXPECT_TRUE(text.Contains("\nX-GNOME-Autostart-enabled=true\n")) << text;
    EXPECT_FALSE(text.Contains("=false")) << text;
}

TEST_F(OptionsDlgTest, AudioPickerStartsAtTheFieldAndFillsOnlyTheAudioField)
{
    StoreSettings(kStoredAudio, kStoredVideo, true);
    AnswerPicker(kPickedAudio);
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    Click(dlg, OptionsDlg::ID_BUTTON2);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(&dlg, requests[0].parent);
    EXPECT_EQ("Select a path where save audio files", requests[0].message);
    EXPECT_EQ(kStoredAudio, requests[0].start);
    EXPECT_EQ(kPickedAudio, Field(dlg, "ID_TEXTCTRL2")->GetValue());
    EXPECT_EQ(kStoredVideo, Field(dlg, "ID_TEXTCTRL1")->GetValue());
}

TEST_F(OptionsDlgTest, VideoPickerStartsAtTheFieldAndFillsOnlyTheVideoField)
{
    StoreSettings(kStoredAudio, kStoredVideo, true);
    AnswerPicker(kPickedVideo);
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    Click(dlg, OptionsDlg::ID_BUTTON1);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ(&dlg, requests[0].parent);
    EXPECT_EQ("Select a path where save video files", requests[0].message);
    EXPECT_EQ(kStoredVideo, requests[0].start);
    EXPECT_EQ(kPickedVideo, Field(dlg, "ID_TEXTCTRL1")->GetValue());
    EXPECT_EQ(kStoredAudio, Field(dlg, "ID_TEXTCTRL2")->GetValue());
}

TEST_F(OptionsDlgTest, CancelledPickerLeavesBothFields)
{
    StoreSettings(kStoredAudio, kStoredVideo, true);
    AnswerPicker(wxString());
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    Click(dlg, OptionsDlg::ID_BUTTON2);
    Click(dlg, OptionsDlg::ID_BUTTON1);
    EXPECT_EQ(2u, requests.size());
    EXPECT_EQ(kStoredAudio, Field(dlg, "ID_TEXTCTRL2")->GetValue());
    EXPECT_EQ(kStoredVideo, Field(dlg, "ID_TEXTCTRL1")->GetValue());
}

TEST_F(OptionsDlgTest, SaveAfterPicksStoresThePickedFolders)
{
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    AnswerPicker(kPickedAudio);
    Click(dlg, OptionsDlg::ID_BUTTON2);
    AnswerPicker(kPickedVideo);
    Click(dlg, OptionsDlg::ID_BUTTON1);
    Click(dlg, OptionsDlg::ID_BUTTON4);
    const AppConfig stored;
    EXPECT_EQ(kPickedAudio, stored.GetAudioPath());
    EXPECT_EQ(kPickedVideo, stored.GetVideoPath());
}

TEST_F(OptionsDlgTest, CancelAfterAPickSavesNothing)
{
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    AnswerPicker(kPickedAudio);
    Click(dlg, OptionsDlg::ID_BUTTON2);
    Autorun(dlg)->SetValue(false);
    Click(dlg, OptionsDlg::ID_BUTTON3);
    EXPECT_TRUE(WaitFor([&] { return !dlg.IsShown(); }, kCloseWaitMs));
    EXPECT_FALSE(wxFileExists(SettingsFilePath()));
    EXPECT_FALSE(wxFileExists(AutostartEntry::GetFilePath()));
}

TEST_F(OptionsDlgTest, CancelAndCloseBoxLeaveAnExistingFileUnchanged)
{
    StoreSettings(kStoredAudio, kStoredVideo, true);
    const wxString before = ReadFileText(SettingsFilePath());
    ASSERT_FALSE(before.empty());
    AnswerPicker(kPickedVideo);
    {
        OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
        dlg.Show();
        Click(dlg, OptionsDlg::ID_BUTTON1);
        Click(dlg, OptionsDlg::ID_BUTTON3);
        EXPECT_TRUE(WaitFor([&] { return !dlg.IsShown(); }, kCloseWaitMs));
    }
    {
        OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
        dlg.Show();
        Click(dlg, OptionsDlg::ID_BUTTON1);
        dlg.Close();
        EXPECT_TRUE(WaitFor([&] { return !dlg.IsShown(); }, kCloseWaitMs));
    }
    EXPECT_EQ(before, ReadFileText(SettingsFilePath()));
    EXPECT_FALSE(wxFileExists(AutostartEntry::GetFilePath()));
}

TEST_F(OptionsDlgTest, OptionsMenuRunsTheDialogModallyAndItsSaveEndsTheRun)
{
    StoreSettings(kStoredAudio, kStoredVideo, false);
    auto* frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    bool ran = false;
    wxCommandEvent options(wxEVT_MENU, NorvikFrame::ID_MENU_OPTIONS);
    wxTEST_DIALOG(frame->ProcessWindowEvent(options),
                  OptionsDlgThen(
                      [&](OptionsDlg* dlg)
                      {
                          ran = true;
                          EXPECT_EQ(frame, dlg->GetParent());
                          EXPECT_EQ(kStoredVideo, Field(*dlg, "ID_TEXTCTRL1")->GetValue());
                          Autorun(*dlg)->SetValue(true);
                          Click(*dlg, OptionsDlg::ID_BUTTON4);
                      }));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(AppConfig().GetAutorun());
    EXPECT_TRUE(wxFileExists(AutostartEntry::GetFilePath()));
    delete frame;
}

namespace
{
// The real picker is the toolkit's folder dialog; the hook answers it in place of a user.
// The native dialog only knows its path once a user has confirmed one, so what it reports
// at that moment is what the picker must hand back.
class DirDialogAnswer : public wxExpectModalBase<wxDirDialog, DirDialogAnswer>
{
public:
    DirDialogAnswer(int answer, wxString& message, wxString& path)
        : answer(answer), message(message), path(path)
    {
    }

protected:
    int OnInvoked(wxDirDialog* dlg) const override
    {
        message = dlg->GetMessage();
        path = dlg->GetPath();
        return answer;
    }

private:
    int answer;
    wxString& message;
    wxString& path;
};
} // namespace

TEST(FolderPickerTest, DefaultPickerAsksTheFolderDialogAndTakesItsPathOnlyOnOk)
{
    TempDir folder;
    ASSERT_FALSE(folder.Path().empty());
    wxString message;
    wxString reported = "not asked";
    wxString chosen = "untouched";
    bool picked = true;
    wxTEST_DIALOG(picked =
                      FolderPicker::ShowFolderDialog(nullptr, "pick one", folder.Path(), chosen),
                  DirDialogAnswer(wxID_CANCEL, message, reported));
    EXPECT_FALSE(picked);
    EXPECT_EQ("untouched", chosen);
    EXPECT_EQ("pick one", message);

    reported = "not asked";
    wxTEST_DIALOG(picked = FolderPicker::ShowFolderDialog(nullptr, "again", folder.Path(), chosen),
                  DirDialogAnswer(wxID_OK, message, reported));
    EXPECT_TRUE(picked);
    EXPECT_EQ("again", message);
    EXPECT_NE("not asked", reported);
    EXPECT_EQ(reported, chosen);
}

TEST(FolderPickerTest, PickGoesThroughTheReplaceableFunction)
{
    const FolderPicker::PickFunction saved = FolderPicker::pick;
    ASSERT_TRUE(static_cast<bool>(saved));
    wxString seenStart;
    FolderPicker::pick = [&](wxWindow*, const wxString&, const wxString& start, wxString& chosen)
    {
        seenStart = start;
        chosen = kPickedAudio;
        return true;
    };
    wxString chosen;
    const bool picked = FolderPicker::Pick(nullptr, "m", kStoredAudio, chosen);
    FolderPicker::pick = saved;
    EXPECT_TRUE(picked);
    EXPECT_EQ(kPickedAudio, chosen);
    EXPECT_EQ(kStoredAudio, seenStart);
}
