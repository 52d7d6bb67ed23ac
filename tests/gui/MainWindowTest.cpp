#include "support/GuiTestSupport.h"
#include "support/XServerView.h"

#include "ui/BlockingWork.h"
#include "ui/NorvikFrame.h"

#include <wx/button.h>
#include <wx/html/htmlwin.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>

#include <memory>

namespace
{
constexpr long kCloseSettleMs = 200;

class MainWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        // The timer is driven by hand here: its own ticks would make the schedule racy.
        frame->tickTimer.Stop();
    }
    void TearDown() override
    {
        if (frame)
            delete frame;
    }
    NorvikFrame* frame = nullptr;
};
} // namespace

TEST_F(MainWindowTest, ControlsHaveTheirNamesInTabOrder)
{
    const char* names[] = {"ID_TEXTCTRL1", "ID_BUTTON2", "ID_TEXTCTRL2", "ID_HTMLWINDOW1",
                           "ID_LISTBOX1",  "ID_BUTTON1", "ID_LISTBOX2"};
    std::vector<wxWindow*> found;
    for (const char* name : names)
    {
        wxWindow* w = wxWindow::FindWindowByName(name, frame);
        ASSERT_NE(nullptr, w) << name;
        found.push_back(w);
    }
    EXPECT_EQ(frame->urlText, found[0]);
    EXPECT_EQ(frame->downloadsList, found[6]);
    EXPECT_EQ("wxID_ANY", frame->GetName());
    // Creation order is the tab order: each control comes after the one before it.
    const wxWindowList& children = frame->GetChildren();
    int last = -1;
    for (wxWindow* w : found)
    {
        const int at = children.IndexOf(w);
        EXPECT_GT(at, last) << w->GetName();
        last = at;
    }
    EXPECT_EQ("Load", frame->loadButton->GetLabel());
    EXPECT_EQ("Download", frame->downloadButton->GetLabel());
    EXPECT_EQ(wxSize(85, 33), frame->downloadButton->GetSize());
    EXPECT_TRUE(frame->titleText->HasFlag(wxTE_READONLY));
    EXPECT_EQ("Norvik 2.0", frame->GetTitle());
    EXPECT_EQ(wxColour("white"), frame->GetBackgroundColour());
}

TEST_F(MainWindowTest, MenusCarryTheirTextsHelpAndAccelerators)
{
    wxMenuBar* bar = frame->GetMenuBar();
    ASSERT_NE(nullptr, bar);
    ASSERT_EQ(2u, bar->GetMenuCount());
    EXPECT_EQ("&File", bar->GetMenuLabel(0));
    EXPECT_EQ("Help", bar->GetMenuLabel(1));
    const struct
    {
        long id;
        const char* text;
        const char* help;
    } items[] = {
        {NorvikFrame::ID_MENU_OPTIONS, "Options...", "Options panel"},
        {NorvikFrame::ID_MENU_QUIT, "Quit\tAlt-F4", "Quit the application"},
        {NorvikFrame::ID_MENU_UPDATES, "Check for updates", "Check for Norvik updates"},
        {NorvikFrame::ID_MENU_ABOUT, "About\tF1", "Show info about this application"},
    };
    for (const auto& item : items)
    {
        wxMenuItem* found = bar->FindItem(item.id);
        ASSERT_NE(nullptr, found) << item.text;
        EXPECT_EQ(item.text, found->GetItemLabel());
        EXPECT_EQ(item.help, found->GetHelp());
    }
}

TEST_F(MainWindowTest, StartsAtItsFittedMinimumSize)
{
    const wxSize minimum = frame->GetMinSize();
    EXPECT_GT(minimum.x, 280);
    EXPECT_EQ(minimum, frame->GetSize());
    frame->SetSize(wxSize(10, 10));
    EXPECT_GE(frame->GetSize().x, minimum.x);
    EXPECT_GE(frame->GetSize().y, minimum.y);
}

TEST_F(MainWindowTest, CloseHidesWithANotificationAreaAndMinimisesWithout)
{
    // This runs on a display without a notification area and on one with: each way the
    // window stays where the user can bring it back from.
    const bool notificationArea = wxTaskBarIcon::IsAvailable();
    ASSERT_TRUE(ShowOnScreen(frame));
    frame->Close();
    RunEventsFor(kCloseSettleMs);
    EXPECT_FALSE(wxTheApp->IsScheduledForDestruction(frame));
    // Xvfb runs no window manager, so the minimised state itself never comes back to us;
    // what matters is that the window is not hidden where no icon could bring it back.
    EXPECT_EQ(!notificationArea, frame->IsShown());
    frame->Hide();
    frame->trayIcon.RestoreMainWindow();
    EXPECT_TRUE(frame->IsShown());
}

TEST_F(MainWindowTest, QuitAnsweredNoKeepsTheWindowYesDestroysIt)
{
    wxCommandEvent quit(wxEVT_MENU, NorvikFrame::ID_MENU_QUIT);
    wxTEST_DIALOG(frame->ProcessWindowEvent(quit),
                  wxExpectModal<wxMessageDialog>(wxID_NO).Describe("the quit question"));
    RunEventsFor(100);
    EXPECT_FALSE(wxTheApp->IsScheduledForDestruction(frame));

    wxTEST_DIALOG(frame->ProcessWindowEvent(quit), wxExpectModal<wxMessageDialog>(wxID_YES));
    EXPECT_TRUE(wxTheApp->IsScheduledForDestruction(frame));
    wxWindow* doomed = frame;
    frame = nullptr;
    EXPECT_TRUE(WaitFor([&] { return !wxTopLevelWindows.Member(doomed); }, 2000));
}

TEST_F(MainWindowTest, QuitQuestionHasItsTextsAndNoAsDefault)
{
    class Inspect : public wxExpectModal<wxMessageDialog>
    {
    public:
        Inspect() : wxExpectModal<wxMessageDialog>(wxID_NO) {}

    protected:
        int OnInvoked(wxMessageDialog* dlg) const override
        {
            EXPECT_EQ("Are you sure you want to quit?", dlg->GetMessage());
            EXPECT_EQ("Norvik", dlg->GetTitle());
            EXPECT_TRUE(dlg->GetMessageDialogStyle() & wxNO_DEFAULT);
            EXPECT_TRUE(dlg->GetMessageDialogStyle() & wxYES_NO);
            return wxID_NO;
        }
    };
    wxCommandEvent quit(wxEVT_MENU, NorvikFrame::ID_MENU_QUIT);
    wxTEST_DIALOG(frame->ProcessWindowEvent(quit), Inspect());
}

TEST_F(MainWindowTest, TickScheduleQueuesUpdateChecksAt180AndEvery1000TicksUntilOneSucceeds)
{
    int checksQueued = 0;
    frame->Bind(
        wxEVT_MENU,
        [&](wxCommandEvent&)
        {
            // Stands in for the check, which ends at once here.
            ++checksQueued;
            frame->updateCheckUnderWay = false;
        },
        NorvikFrame::ID_MENU_UPDATES);
    wxTimerEvent tick(frame->tickTimer);
    const auto checksAfterTick = [&](std::uint32_t before)
    {
        checksQueued = 0;
        NorvikFrame::tickCount = before;
        frame->OnTimer(tick);
        wxTheApp->ProcessPendingEvents();
        wxTheApp->ProcessPendingEvents();
        return checksQueued;
    };
    EXPECT_EQ(0, checksAfterTick(178)) << "tick 179";
    EXPECT_EQ(1, checksAfterTick(179)) << "tick 180";
    EXPECT_EQ(180u, NorvikFrame::tickCount);
    EXPECT_EQ(0, checksAfterTick(180)) << "tick 181";
    // None has succeeded: the next comes 1000 ticks later, and again 1000 after that.
    EXPECT_EQ(0, checksAfterTick(1178)) << "tick 1179";
    EXPECT_EQ(1, checksAfterTick(1179)) << "tick 1180";
    EXPECT_EQ(0, checksAfterTick(1180)) << "tick 1181";
    EXPECT_EQ(1, checksAfterTick(2179)) << "tick 2180";

    frame->updateCheckDone = true;
    EXPECT_EQ(0, checksAfterTick(1179)) << "no automatic check once one has succeeded";
}

TEST_F(MainWindowTest, DownloadsListIsRewrittenOnTicks1And4And7Only)
{
    // A job that ended at once, without a thread: its line shows whatever its status says
    // when the list is last rewritten.
    Downloader& job = frame->downloaders[0];
    StreamRecord rec;
    rec.title = "clip";
    ASSERT_TRUE(job.SetRecord(rec));
    job.SetError("first");
    wxTimerEvent tick(frame->tickTimer);
    NorvikFrame::tickCount = 0;
    const auto lineAfterTick = [&]
    {
        frame->OnTimer(tick);
        return frame->downloadsList->GetCount() > 0 ? frame->downloadsList->GetString(0)
                                                    : wxString();
    };
    EXPECT_TRUE(lineAfterTick().StartsWith("[first]")) << "tick 1 rewrites the list";
    int status = 0;
    for (std::uint32_t expectedTick = 2; expectedTick <= 7; ++expectedTick)
    {
        const wxString before = frame->downloadsList->GetString(0);
        job.SetStatus(wxString::Format("status %d", ++status));
        const wxString line = lineAfterTick();
        ASSERT_EQ(expectedTick, NorvikFrame::tickCount);
        if (expectedTick % 3 == 1)
            EXPECT_TRUE(line.StartsWith(wxString::Format("[status %d]", status)))
                << "tick " << expectedTick << ": " << line;
        else
            EXPECT_EQ(before, line) << "tick " << expectedTick << " must not rewrite the list";
    }
}

TEST_F(MainWindowTest, TickDuringBlockingWorkDoesNothingAndIsNotCounted)
{
    wxTimerEvent tick(frame->tickTimer);
    NorvikFrame::tickCount = 5;
    {
        BlockingWork work(frame->blockingWork, false);
        frame->OnTimer(tick);
        EXPECT_EQ(5u, NorvikFrame::tickCount);
    }
    frame->OnTimer(tick);
    EXPECT_EQ(6u, NorvikFrame::tickCount);
}
