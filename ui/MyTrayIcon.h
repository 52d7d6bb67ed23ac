#pragma once

#include <wx/taskbar.h>

class wxFrame;

// The icon in the notification area: the way back to a hidden main window.
class MyTrayIcon : public wxTaskBarIcon
{
public:
    static constexpr long ID_SHOW_MAIN_WINDOW = 10001;

    MyTrayIcon() = default;
    ~MyTrayIcon() override = default;

    void SetMainFrame(wxFrame* frame) { mainFrame = frame; }
    void RestoreMainWindow();

protected:
    wxMenu* CreatePopupMenu() override;

private:
    void OnShowMainWindow(wxCommandEvent& event);
    void OnIconClick(wxTaskBarIconEvent& event);

    wxFrame* mainFrame = nullptr;

    wxDECLARE_EVENT_TABLE();
};
