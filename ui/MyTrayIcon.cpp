#include "ui/MyTrayIcon.h"

#include <wx/frame.h>
#include <wx/intl.h>
#include <wx/menu.h>

void MyTrayIcon::RestoreMainWindow()
{
    if (!mainFrame)
        return;
    mainFrame->Iconize(false);
    mainFrame->SetFocus();
    mainFrame->Raise();
    mainFrame->Show(true);
}

wxMenu* MyTrayIcon::CreatePopupMenu()
{
    auto* menu = new wxMenu;
    menu->Append(ID_SHOW_MAIN_WINDOW, _("&Show main window"), wxString());
    if (watching && setWatching)
    {
        menu->AppendCheckItem(ID_WATCH_CLIPBOARD, _("&Watch the clipboard for video addresses"));
        menu->Check(ID_WATCH_CLIPBOARD, watching());
    }
    return menu;
}

void MyTrayIcon::OnWatchClipboard(wxCommandEvent& event)
{
    if (setWatching)
        setWatching(event.IsChecked());
}

void MyTrayIcon::OnShowMainWindow(wxCommandEvent&)
{
    RestoreMainWindow();
}

void MyTrayIcon::OnIconClick(wxTaskBarIconEvent&)
{
    RestoreMainWindow();
}

// Last in the file: the formatter reads the table's macros as one unfinished statement and
// would indent whatever follows it.
// clang-format off
wxBEGIN_EVENT_TABLE(MyTrayIcon, wxTaskBarIcon)
    EVT_MENU(MyTrayIcon::ID_SHOW_MAIN_WINDOW, MyTrayIcon::OnShowMainWindow)
    EVT_MENU(MyTrayIcon::ID_WATCH_CLIPBOARD, MyTrayIcon::OnWatchClipboard)
    EVT_TASKBAR_LEFT_DCLICK(MyTrayIcon::OnIconClick)
    // GTK delivers a single click as left-down and sends no double click while left-down is
    // handled: one click brings the window back.
    EVT_TASKBAR_LEFT_DOWN(MyTrayIcon::OnIconClick)
wxEND_EVENT_TABLE()
