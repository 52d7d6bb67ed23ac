#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "ui/NorvikFrame.h"
#include "ui/UpdateDlg.h"

#include <wx/button.h>
#include <wx/hyperlink.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include <functional>
#include <mutex>
#include <string>

// The toolkit leaves expectations of an application's own dialogs to the application.
template <> class wxExpectModal<UpdateDlg> : public wxExpectDismissableModal<UpdateDlg>
{
public:
    explicit wxExpectModal(int id) : wxExpectDismissableModal<UpdateDlg>(id) {}
};

namespace
{
const wxString kSiteUrl = "https://www.velmorra.example/norvik";
// The tick before the first automatic check.
constexpr std::uint32_t kTickBeforeCheck = 179;
constexpr long kCloseWaitMs = 2000;
constexpr int kHeadlinePointSize = 13;

wxString SettingsFilePath()
{
    return wxGetHomeDir() + "/.Norvik";
}

using UpdateDlgThen = ModalThen<UpdateDlg>;

class UpdateCheckTest : public testing::Test
{
protected:
    void SetUp() override
    {
        wxRemoveFile(SettingsFilePath());
        server.Routes().Get("/hub.php",
                            [this](const httplib::Request& request, httplib::Response& response)
                            {
                                std::lock_guard<std::mutex> lock(mutex);
                                requestedPath = request.path;
                                requestedService = request.get_param_value("s");
                                ++requestCount;
                                response.set_content(reply, "text/plain");
                            });
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        // The timer is driven by hand: its own ticks would make the schedule racy.
        frame->tickTimer.Stop();
        // Bound after the frame's own handler, so it runs first and, unless told to let the
        // checks run, stops the event there.
        frame->Bind(
            wxEVT_MENU,
            [this](wxCommandEvent& event)
            {
                ++checksQueued;
                event.Skip(letChecksRun);
            },
            NorvikFrame::ID_MENU_UPDATES);
    }
    void TearDown() override
    {
        server.Stop();
        delete frame;
        wxRemoveFile(SettingsFilePath());
    }

    void Serve(const std::string& body)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            reply = body;
        }
        ASSERT_TRUE(server.Start());
        PointAt(server.Port());
    }

    static void PointAt(int port)
    {
        ASSERT_TRUE(WriteFileText(SettingsFilePath(),
                                  wxString::Format("ServiceUrl=http://127.0.0.1:%d\n", port)));
    }

    void RunCheck()
    {
        wxCommandEvent check(wxEVT_MENU, NorvikFrame::ID_MENU_UPDATES);
        frame->OnCheckForUpdates(check);
    }

    // Whether the tick that brings the first automatic check queues one.
    bool TickQueuesAutomaticCheck()
    {
        checksQueued = 0;
        NorvikFrame::tickCount = kTickBeforeCheck;
        wxTimerEvent tick(frame->tickTimer);
        frame->OnTimer(tick);
        wxTheApp->ProcessPendingEvents();
        return checksQueued > 0;
    }

    int Requests()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return requestCount;
    }

    NorvikFrame* frame = nullptr;
    TestHttpServer server;
    std::mutex mutex;
    std::string reply;
    std::string requestedPath;
    std::string requestedService;
    int requestCount = 0;
    int checksQueued = 0;
    bool letChecksRun = false;
};

struct ReplyCase
{
    const char* name;
    const char* body;
    bool dialogShown;
    bool checkDone;
};

void PrintTo(const ReplyCase& c, std::ostream* os)
{
    *os << c.name;
}

class UpdateReplyTest : public UpdateCheckTest, public testing::WithParamInterface<ReplyCase>
{
};
} // namespace

TEST_P(UpdateReplyTest, ShowsTheDialogOnlyForANewerVersionAndSchedulesAccordingly)
{
    const ReplyCase& c = GetParam();
    Serve(c.body);
    if (c.dialogShown)
    {
        wxTEST_DIALOG(RunCheck(), wxExpectModal<UpdateDlg>(wxID_CANCEL));
    }
    else
    {
        RunCheck();
    }
    EXPECT_EQ(1, Requests());
    EXPECT_EQ(c.checkDone, frame->updateCheckDone);
    EXPECT_FALSE(frame->blockingWork);
    EXPECT_FALSE(wxIsBusy()) << "the busy cursor ends on every way out";
    EXPECT_EQ(!c.checkDone, TickQueuesAutomaticCheck());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UpdateReplyTest,
    testing::Values(ReplyCase{"Newer", "ROVOVIVOZ_VC2.1\n", true, true},
                    ReplyCase{"Same", "ROVOVIVOZ_VC2.0\n", false, true},
                    ReplyCase{"TenIsNewerThanTwo", "ROVOVIVOZ_VC10.0\n", true, true},
                    ReplyCase{"LongerSameStart", "ROVOVIVOZ_VC2.0.1\n", true, true},
                    ReplyCase{"TrailingZeroPartIsTheSame", "ROVOVIVOZ_VC2.0.0\n", false, true},
                    ReplyCase{"LeadingSpaceSkipped", "ROVOVIVOZ_VC 2.1\n", true, true},
                    ReplyCase{"EqualsSignIsNoVersion", "ROVOVIVOZ_VC=1.0\n", false, true},
                    ReplyCase{"RestOfDocumentNoPartOfTheVersion", "ROVOVIVOZ_VC2.0\nmore text",
                              false, true},
                    ReplyCase{"TrailingWhitespaceTrimmed", "ROVOVIVOZ_VC2.0 \r\n\t\n", false, true},
                    ReplyCase{"TextBeforeKeyIgnored", "current: ROVOVIVOZ_VC2.1", true, true},
                    ReplyCase{"FirstKeyCounts", "ROVOVIVOZ_VC1.0\nROVOVIVOZ_VC9.9\n", false, true},
                    ReplyCase{"NothingAfterKey", "ROVOVIVOZ_VC", false, true},
                    ReplyCase{"NoKey", "version 9.9\n", false, false},
                    ReplyCase{"KeyIsCaseSensitive", "rovovivoz_vc9.9\n", false, false},
                    ReplyCase{"EmptyReply", "", false, false}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(UpdateCheckTest, AsksTheServiceForTheCurrentVersion)
{
    Serve("ROVOVIVOZ_VC2.0");
    RunCheck();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ("/hub.php", requestedPath);
    EXPECT_EQ("curver", requestedService);
}

TEST_F(UpdateCheckTest, UnreachableServiceShowsNothingAndKeepsTheScheduleGoing)
{
    // A port that was just free and has nothing listening any more.
    TestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    const int port = closed.Port();
    closed.Stop();
    PointAt(port);
    RunCheck();
    EXPECT_FALSE(frame->updateCheckDone);
    EXPECT_FALSE(frame->blockingWork);
    EXPECT_FALSE(wxIsBusy());
    EXPECT_TRUE(TickQueuesAutomaticCheck());
}

TEST_F(UpdateCheckTest, DialogRunsWithTicksHandledInputEnabledAndTheFrameAsParent)
{
    Serve("ROVOVIVOZ_VC2.1");
    bool shown = false;
    wxTEST_DIALOG(RunCheck(), UpdateDlgThen(
                                  [&](UpdateDlg* dlg)
                                  {
                                      shown = true;
                                      EXPECT_EQ(frame, dlg->GetParent());
                                      EXPECT_FALSE(frame->blockingWork);
                                      EXPECT_TRUE(frame->IsEnabled());
                                      EXPECT_FALSE(frame->updateCheckDone)
                                          << "the flag is set once the dialog has closed";
                                      NorvikFrame::tickCount = 0;
                                      wxTimerEvent tick(frame->tickTimer);
                                      frame->OnTimer(tick);
                                      EXPECT_EQ(1u, NorvikFrame::tickCount);
                                  }));
    EXPECT_TRUE(shown);
    EXPECT_TRUE(frame->updateCheckDone);
}

TEST_F(UpdateCheckTest, NoFurtherCheckIsQueuedWhileOneIsUnderWay)
{
    Serve("ROVOVIVOZ_VC2.1");
    bool shown = false;
    wxTEST_DIALOG(RunCheck(), UpdateDlgThen(
                                  [&](UpdateDlg*)
                                  {
                                      shown = true;
                                      EXPECT_FALSE(TickQueuesAutomaticCheck())
                                          << "a dialog left open past the scheduled tick";
                                  }));
    EXPECT_TRUE(shown);

    // Queued by a tick but not yet handled: the next scheduled tick adds none.
    frame->updateCheckDone = false;
    EXPECT_TRUE(TickQueuesAutomaticCheck());
    EXPECT_FALSE(TickQueuesAutomaticCheck());
}

TEST_F(UpdateCheckTest, ScheduledCheckFromTheTimerRunsTheRealCheck)
{
    Serve("ROVOVIVOZ_VC2.0");
    letChecksRun = true;
    NorvikFrame::tickCount = kTickBeforeCheck;
    wxTimerEvent tick(frame->tickTimer);
    frame->OnTimer(tick);
    EXPECT_TRUE(WaitFor([&] { return frame->updateCheckDone; }, kCloseWaitMs));
    EXPECT_EQ(1, Requests());
}

TEST(UpdateDlgTest, ControlsCarryTheirNamesTextsAndLink)
{
    UpdateDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    EXPECT_EQ("Norvik Update", dlg.GetTitle());
    EXPECT_EQ("id", dlg.GetName());
    const char* names[] = {"ID_STATICTEXT1", "ID_STATICTEXT2", "ID_HYPERLINKCTRL1", "ID_BUTTON1"};
    const long ids[] = {UpdateDlg::ID_STATICTEXT1, UpdateDlg::ID_STATICTEXT2,
                        UpdateDlg::ID_HYPERLINKCTRL1, UpdateDlg::ID_BUTTON1};
    for (size_t i = 0; i < WXSIZEOF(names); ++i)
    {
        wxWindow* w = wxWindow::FindWindowByName(names[i], &dlg);
        ASSERT_NE(nullptr, w) << names[i];
        EXPECT_EQ(ids[i], w->GetId()) << names[i];
    }
    EXPECT_EQ("An update for this app is available.", dlg.headlineText->GetLabel());
    EXPECT_EQ("Do you want to download it now?", dlg.questionText->GetLabel());
    EXPECT_EQ("Download Now", dlg.downloadLink->GetLabel());
    EXPECT_EQ(kSiteUrl, dlg.downloadLink->GetURL());
    EXPECT_TRUE(dlg.downloadLink->HasFlag(wxHL_CONTEXTMENU));
    EXPECT_EQ("Dismiss", dlg.dismissButton->GetLabel());

    const wxFont font = dlg.headlineText->GetFont();
    EXPECT_EQ(kHeadlinePointSize, font.GetPointSize());
    EXPECT_EQ("Sans", font.GetFaceName());
    EXPECT_EQ(wxFONTSTYLE_NORMAL, font.GetStyle());
    EXPECT_EQ(wxFONTWEIGHT_NORMAL, font.GetWeight());
    EXPECT_FALSE(font.GetUnderlined());
}

TEST(UpdateDlgTest, ItemsStackTopToBottomBelowAStretchSpacer)
{
    UpdateDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    wxSizer* sizer = dlg.GetSizer();
    ASSERT_NE(nullptr, sizer);
    const wxSizerItemList& items = sizer->GetChildren();
    ASSERT_EQ(5u, items.size());
    EXPECT_TRUE(items[0]->IsSpacer());
    const wxWindow* expected[] = {dlg.headlineText, dlg.questionText, dlg.downloadLink,
                                  dlg.dismissButton};
    for (size_t i = 0; i < WXSIZEOF(expected); ++i)
    {
        EXPECT_EQ(expected[i], items[i + 1]->GetWindow()) << i;
        EXPECT_EQ(1, items[i + 1]->GetProportion()) << i;
    }
    EXPECT_EQ(dlg.GetMinSize(), dlg.GetSize());
}

TEST(UpdateDlgTest, DismissClosesTheDialog)
{
    UpdateDlg dlg(nullptr, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dlg.Show();
    ASSERT_TRUE(dlg.IsShown());
    wxCommandEvent click(wxEVT_BUTTON, UpdateDlg::ID_BUTTON1);
    click.SetEventObject(dlg.dismissButton);
    dlg.dismissButton->ProcessWindowEvent(click);
    EXPECT_TRUE(WaitFor([&] { return !dlg.IsShown(); }, kCloseWaitMs));
}
