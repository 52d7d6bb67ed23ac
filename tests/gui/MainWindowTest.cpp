#include "support/GuiTestSupport.h"

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
    const char* names[] = {"ID_TEXTCTRL1", "ID_BUTTON2",  "ID_TEXTCTRL2", "ID_HTMLWINDOW1",
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

TEST_F(MainWindowTest, CloseMinimisesWhenThereIsNoNotificationArea)
{
    ASSERT_FALSE(wxTaskBarIcon::IsAvailable()) << "this test expects a display without a tray";
    // Xvfb runs no window manager, so the minimised state itself never comes back to us;
    // what matters is that the window is not hidden where no icon could bring it back.
    frame->Close();
    RunEventsFor(200);
    EXPECT_TRUE(frame->IsShown());
    EXPECT_FALSE(wxTheApp->IsScheduledForDestruction(frame));
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

TEST_F(MainWindowTest, TickScheduleRefreshesEveryThirdTickAndQueuesUpdateChecks)
{
    int checksQueued = 0;
    frame->Bind(
        wxEVT_MENU, [&](wxCommandEvent&) { ++checksQueued; }, NorvikFrame::ID_MENU_UPDATES);
    wxTimerEvent tick(frame->tickTimer);
    NorvikFrame::tickCount = 178;
    frame->OnTimer(tick);
    EXPECT_EQ(179u, NorvikFrame::tickCount);
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(0, checksQueued);
    frame->OnTimer(tick);
    wxTheApp->ProcessPendingEvents();
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(1, checksQueued);

    NorvikFrame::tickCount = 1179;
    frame->updateCheckDone = true;
    frame->OnTimer(tick);
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(1, checksQueued) << "no automatic check once one has succeeded";
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
