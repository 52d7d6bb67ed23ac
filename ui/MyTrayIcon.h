#pragma once

#include <wx/taskbar.h>

#include <functional>

class wxFrame;

// The icon in the notification area: the way back to a hidden main window.
class MyTrayIcon : public wxTaskBarIcon
{
public:
    static constexpr long ID_SHOW_MAIN_WINDOW = 10001;
    static constexpr long ID_WATCH_CLIPBOARD = 10002;

    MyTrayIcon() = default;
    ~MyTrayIcon() override = default;

    void SetMainFrame(wxFrame* frame) { mainFrame = frame; }
    // The clipboard watch's switch, which the menu shows as a check item; without it the
    // menu has no such item.
    void SetClipboardSwitch(std::function<bool()> get, std::function<void(bool)> set)
    {
        watching = std::move(get);
        setWatching = std::move(set);
    }
    void RestoreMainWindow();

protected:
    wxMenu* CreatePopupMenu() override;

private:
    void OnShowMainWindow(wxCommandEvent& event);
    void OnIconClick(wxTaskBarIconEvent& event);
    void OnWatchClipboard(wxCommandEvent& event);

    wxFrame* mainFrame = nullptr;
    std::function<bool()> watching;
    std::function<void(bool)> setWatching;

    wxDECLARE_EVENT_TABLE();
};
