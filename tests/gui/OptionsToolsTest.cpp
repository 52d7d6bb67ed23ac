// The Options dialog's part on looking up videos: the browser's sign-in, the tools in use and
// "Update now" running while the dialog stays usable.
#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "config/AppConfig.h"
#include "ui/OptionsDlg.h"
#include "update/UpdateCheck.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include <sys/stat.h>

#include <ctime>

namespace
{
// yt-dlp is asked for its version on a thread; a loaded machine may be slow to start one.
constexpr long kProbeLimitMs = 30000;
constexpr long kCheckLimitMs = 30000;

class OptionsToolsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        wxRemoveFile(wxGetHomeDir() + "/.Norvik");
        ASSERT_TRUE(wxMkdir(data.File("norvik")));
    }
    void TearDown() override
    {
        UpdateCheck::Stop();
        wxRemoveFile(wxGetHomeDir() + "/.Norvik");
    }

    void KeepCopy(const wxString& version)
    {
        const wxString copy = data.File("norvik/yt-dlp");
        ASSERT_TRUE(WriteFileText(copy, "#!/bin/sh\necho " + version + "\n"));
        ASSERT_EQ(0, chmod(copy.utf8_str(), 0755));
    }

    TempDir data;
    wxString dataPath = data.Path();
    ScopedEnv dataHome{"XDG_DATA_HOME", &dataPath};
};
} // namespace

TEST_F(OptionsToolsTest, ShowsTheCopyInUseItsLastCheckAndSavesTheBrowser)
{
    KeepCopy("2099.01.02");
    {
        AppConfig settings;
        settings.SetToolCheck(long(std::time(nullptr)), "current");
        settings.SetBrowserSignIn("firefox");
    }
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    EXPECT_EQ("Firefox", dlg.browserChoice->GetStringSelection());
    EXPECT_EQ("Last check: up to date, checked today", dlg.lastCheckText->GetLabel());
    EXPECT_TRUE(
        WaitFor([&] { return dlg.resolverText->GetLabel().Contains("2099"); }, kProbeLimitMs));
    EXPECT_EQ("yt-dlp: 2099.01.02 (Norvik's copy)", dlg.resolverText->GetLabel());

    dlg.browserChoice->SetStringSelection("Chrome");
    wxCommandEvent click(wxEVT_BUTTON, OptionsDlg::ID_BUTTON4);
    dlg.saveButton->ProcessWindowEvent(click);
    EXPECT_EQ("chrome", AppConfig().GetBrowserSignIn());
}

TEST_F(OptionsToolsTest, UpdateNowShowsItsProgressWhileTheDialogStaysUsable)
{
    TestHttpServer site;
    site.Routes().Get("/SHA2-256SUMS", [](const httplib::Request&, httplib::Response& res)
                      { res.set_content(std::string(64, 'a') + "  yt-dlp\n", "text/plain"); });
    // The download stays in its transfer until the site stops: the check runs that long.
    site.AddStalledStream("/yt-dlp", "application/octet-stream", "#!/bin/sh\n");
    ASSERT_TRUE(site.Start());
    ASSERT_TRUE(WriteFileText(wxGetHomeDir() + "/.Norvik",
                              "ResolverReleaseUrl=" + site.Url("/") +
                                  "\nJsRuntimeReleaseUrl=" + site.Url("/deno/") + "\n"));
    OptionsDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    ASSERT_TRUE(dlg.updateNowButton->IsEnabled());
    wxCommandEvent click(wxEVT_BUTTON, dlg.updateNowButton->GetId());
    dlg.updateNowButton->ProcessWindowEvent(click);

    EXPECT_TRUE(WaitFor([&] { return dlg.progressText->GetLabel() == "Downloading yt-dlp..."; },
                        kCheckLimitMs));
    EXPECT_TRUE(dlg.progressGauge->IsShown());
    EXPECT_FALSE(dlg.updateNowButton->IsEnabled());
    // The window answers meanwhile.
    dlg.browserChoice->SetStringSelection("Brave");
    RunEventsFor(300);
    EXPECT_EQ("Brave", dlg.browserChoice->GetStringSelection());
    EXPECT_TRUE(UpdateCheck::Current().running);

    site.Stop();
    EXPECT_TRUE(WaitFor(
        [&] { return dlg.lastCheckText->GetLabel().StartsWith("Last check: could not check: "); },
        kCheckLimitMs))
        << dlg.lastCheckText->GetLabel();
    EXPECT_TRUE(dlg.updateNowButton->IsEnabled());
    EXPECT_FALSE(dlg.progressGauge->IsShown());
    EXPECT_FALSE(wxFileExists(data.File("norvik/yt-dlp")));
}
