#pragma once

#include "download/Downloader.h"
#include "lookup/StreamRecord.h"
#include "ui/MyTrayIcon.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <cstdint>

class wxButton;
class wxHtmlWindow;
class wxListBox;
class wxTextCtrl;

// The number of download jobs one run can start.
constexpr int kJobCount = 256;

// The main window: the video panel, the download jobs, the notification-area icon and the
// timer that drives all periodic work.
class NorvikFrame : public wxFrame
{
public:
    static const long ID_TEXTCTRL1;
    static const long ID_BUTTON2;
    static const long ID_TEXTCTRL2;
    static const long ID_HTMLWINDOW1;
    static const long ID_LISTBOX1;
    static const long ID_BUTTON1;
    static const long ID_LISTBOX2;
    static const long ID_MENU_OPTIONS;
    static const long ID_MENU_QUIT;
    static const long ID_MENU_UPDATES;
    static const long ID_MENU_ABOUT;
    static const long ID_TIMER1;

    static const wxString kVersion;
    static constexpr int kTimerPeriodMs = 500;

    NorvikFrame(wxWindow* parent, wxWindowID id = wxID_ANY);
    ~NorvikFrame() override;

    // Video panel and lookup.
    void LoadVideo(wxCommandEvent& event);
    bool ClearVideoPanel();
    bool ShowVideoPreview();
    bool LookupVideo(const wxString& address);
    bool ParseVideoReply(const wxString& reply);
    void CheckClipboard();

    // Downloads.
    void OnDownload(wxCommandEvent& event);
    void RefreshDownloadsList();

    // Menus, timer and close.
    void OnOptions(wxCommandEvent& event);
    void OnQuit(wxCommandEvent& event);
    void OnCheckForUpdates(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnClose(wxCloseEvent& event);

    // Ticks handled since start; never reset.
    static std::uint32_t tickCount;
    // The last clipboard text taken up as a video address.
    static wxString lastClipboardUrl;

    wxString videoTitle;
    wxString cleanedTitle;
    wxString thumbnailUrl;
    StreamRecord records[kMaxRecords];
    std::int32_t recordCount = 0;
    std::int32_t flvIndex = -1;
    Downloader downloaders[kJobCount];
    MyTrayIcon trayIcon;
    bool updateCheckDone = false;
    // From the tick that queues a check until the check and its dialog are over: a dialog
    // left open past the next scheduled tick must not get a second one on top.
    bool updateCheckUnderWay = false;
    wxHtmlWindow* previewHtml = nullptr;
    wxTextCtrl* urlText = nullptr;
    wxListBox* downloadsList = nullptr;
    wxTimer tickTimer;
    wxListBox* formatsList = nullptr;
    wxButton* downloadButton = nullptr;
    wxTextCtrl* titleText = nullptr;
    wxButton* loadButton = nullptr;

    // True while a tick's work, a Load or an update check's network read runs; ticks that
    // arrive meanwhile are skipped.
    bool blockingWork = false;

private:
    void BuildLayout();
    void BuildMenus();
    // Removes the temporary files of records no download has taken over.
    void RemoveUnusedTempFiles();
    bool HasNotificationArea() const;

    wxDECLARE_EVENT_TABLE();
};
