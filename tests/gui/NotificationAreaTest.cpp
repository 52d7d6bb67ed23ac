// The notification-area icon: its one menu item and the handlers that bring the main window
// back. Run on the common display, which has no notification area, and again on one that has.
#include "support/GuiTestSupport.h"

#include "gui/WatchedWindow.h"
#include "ui/MyTrayIcon.h"
#include "ui/NorvikFrame.h"

#include <wx/menu.h>

#include <string>
#include <vector>

namespace
{
// The icon with its menu in reach of the test.
class OpenTrayIcon : public MyTrayIcon
{
public:
    using MyTrayIcon::CreatePopupMenu;
};

const std::vector<std::string> kBroughtBack = {"Iconize(false)", "SetFocus", "Raise", "Show(true)"};
} // namespace

TEST(NotificationAreaTest, MenuHasTheOneItemThatShowsTheMainWindow)
{
    OpenTrayIcon icon;
    std::unique_ptr<wxMenu> menu(icon.CreatePopupMenu());
    ASSERT_NE(nullptr, menu);
    EXPECT_EQ("", menu->GetTitle());
    ASSERT_EQ(1u, menu->GetMenuItemCount());
    const wxMenuItem* item = menu->FindItemByPosition(0);
    EXPECT_EQ(MyTrayIcon::ID_SHOW_MAIN_WINDOW, item->GetId());
    EXPECT_EQ(10001, item->GetId());
    EXPECT_EQ("&Show main window", item->GetItemLabel());
    EXPECT_EQ("", item->GetHelp());
    EXPECT_EQ(wxITEM_NORMAL, item->GetKind());
}

TEST(NotificationAreaTest, MenuItemDoubleClickAndClickEachBringTheWindowBackInOrder)
{
    auto* window = new WatchedWindow<wxFrame>(nullptr, wxID_ANY, "watched");
    OpenTrayIcon icon;
    icon.SetMainFrame(window);

    wxCommandEvent item(wxEVT_MENU, MyTrayIcon::ID_SHOW_MAIN_WINDOW);
    EXPECT_TRUE(icon.ProcessEvent(item));
    EXPECT_EQ(kBroughtBack, window->calls);
    EXPECT_TRUE(window->IsShown());

    for (const wxEventType mouse : {wxEVT_TASKBAR_LEFT_DCLICK, wxEVT_TASKBAR_LEFT_DOWN})
    {
        window->Hide();
        window->calls.clear();
        wxTaskBarIconEvent click(mouse, &icon);
        EXPECT_TRUE(icon.ProcessEvent(click));
        EXPECT_EQ(kBroughtBack, window->calls);
        EXPECT_TRUE(window->IsShown());
    }

    // Other mouse events on the icon do nothing.
    window->Hide();
    window->calls.clear();
    wxTaskBarIconEvent right(wxEVT_TASKBAR_RIGHT_UP, &icon);
    icon.ProcessEvent(right);
    EXPECT_TRUE(window->calls.empty());
    window->Destroy();
}

TEST(NotificationAreaTest, WithoutAMainWindowTheItemDoesNothing)
{
    OpenTrayIcon icon;
    wxCommandEvent item(wxEVT_MENU, MyTrayIcon::ID_SHOW_MAIN_WINDOW);
    EXPECT_TRUE(icon.ProcessEvent(item));
    icon.RestoreMainWindow();
}

TEST(NotificationAreaTest, MainWindowPutsItsIconInAtOnceWhetherShownOrNot)
{
    auto* frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    EXPECT_FALSE(frame->IsShown());
    EXPECT_TRUE(frame->trayIcon.IsIconInstalled());
    frame->Hide();
    frame->trayIcon.RestoreMainWindow();
    EXPECT_TRUE(frame->IsShown());
    delete frame;
}
