#pragma once

#include "download/DownloadJournal.h"
#include "download/Downloader.h"
#include "download/DownloadsTable.h"
#include "download/RememberedDownloads.h"
#include "lookup/StreamRecord.h"
#include "lookup/UrlFetcher.h"
#include "ui/DownloadNotifier.h"
#include "ui/MyTrayIcon.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <cstdint>
#include <memory>
#include <vector>

class ClipboardReader;
class LookupRequest;
class wxActivityIndicator;
class wxButton;
class wxContextMenuEvent;
class wxMenu;
class wxHtmlWindow;
class wxListBox;
class wxStaticText;
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
    static const long ID_MENU_CANCEL;
    static const long ID_MENU_RETRY;
    static const long ID_MENU_OPEN;
    static const long ID_MENU_SHOWFOLDER;
    static const long ID_MENU_REMOVE;
    static const long ID_MENU_CLEAR_FINISHED;

    static const wxString kVersion;
    static constexpr int kTimerPeriodMs = 500;

    NorvikFrame(wxWindow* parent, wxWindowID id = wxID_ANY);
    ~NorvikFrame() override;

    // Video panel and lookup.
    void LoadVideo(wxCommandEvent& event);
    bool ClearVideoPanel();
    bool ShowVideoPreview();
    // Starts the lookup of the address in the background; its answer comes to OnLookupReply.
    bool LookupVideo(const wxString& address);
    bool ParseVideoReply(const wxString& reply);
    // True from a lookup's start until its answer has been shown or it was superseded.
    bool IsLookingUp() const { return lookup != nullptr; }
    void CheckClipboard();
    // Turns the clipboard watch on or off and keeps the choice in the settings.
    void SetClipboardWatch(bool on);
    bool WatchesClipboard() const { return watchClipboard; }

    // Downloads.
    void OnDownload(wxCommandEvent& event);
    void RefreshDownloadsList();
    // The menu of one line of the downloads list, with the items its job's state allows.
    wxMenu* MakeDownloadMenu(int job);
    void OnDownloadsMenu(wxContextMenuEvent& event);
    void OnDownloadActivated(wxCommandEvent& event);
    void OnDownloadsMotion(wxMouseEvent& event);
    void OnCancelDownload(wxCommandEvent& event);
    void OnRetryDownload(wxCommandEvent& event);
    void OnOpenDownload(wxCommandEvent& event);
    void OnShowDownloadInFolder(wxCommandEvent& event);
    void OnRemoveDownload(wxCommandEvent& event);
    void OnClearFinished(wxCommandEvent& event);
    // Opens the journal and shows the downloads of earlier runs above this run's; retries the
    // interrupted ones when the settings ask for it.
    void ShowRememberedDownloads();
    // Starts a remembered download again as a job of this run, continuing from its partial
    // file; its line goes to the job. False when none could start.
    bool RetryRemembered(int index);
    // Takes a remembered download off the list and out of the journal, and its partial file
    // with it; a finished file stays.
    void RemoveRemembered(int index);
    // The same for the line of an ended job of this run.
    void RemoveJobLine(int job);

    // Menus, timer and close.
    void OnOptions(wxCommandEvent& event);
    void OnQuit(wxCommandEvent& event);
    void OnCheckForUpdates(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnClose(wxCloseEvent& event);

    // Quit with no question: the window and the notification icon go at once, every job is
    // told to stop and the window is destroyed; its destructor waits for the jobs (about a
    // second) and removes every temporary file.
    void QuitNow();
    // A quit signal's quit: as QuitNow, but from inside a modal dialog or a wait of the
    // toolkit it finishes the clean-up itself and ends the process with status 0.
    void QuitOnSignal();
    // Stops and waits for every job, then removes every temporary file of this run. No window
    // is touched, so this also serves when the display is gone.
    void EndJobsAndRemoveFiles();
    // Starts counting modal dialogs, which QuitOnSignal must know about.
    static void WatchModalDialogs();

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
    // The journal of downloads. Before the jobs, so it outlives them: their workers write it.
    DownloadJournal journal;
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
    // Beside the formats list: turns while a lookup runs; says why a lookup failed.
    wxActivityIndicator* lookupSpinner = nullptr;
    wxStaticText* lookupStatus = nullptr;

    // True while a tick's work, a Load or an update check's network read runs; ticks that
    // arrive meanwhile are skipped.
    bool blockingWork = false;
    // Set when the quit began; the window is on its way out.
    bool quitting = false;
    // The lookup under way, and the number of the latest one started.
    std::unique_ptr<LookupRequest> lookup;
    std::uint64_t lookupNumber = 0;
    // The clipboard read that never waits for the owner; none on a display without X.
    std::unique_ptr<ClipboardReader> clipboardReader;
    // The user's switch of the clipboard watch, as the settings had it at start or since.
    bool watchClipboard = true;
    // Set when the watch is turned on: the first text read then was copied while it was off.
    bool skipNextClipboardText = false;

    // The job whose line's menu is open, or -1.
    int menuJob = -1;
    // The remembered download whose line's menu is open, or -1.
    int menuRemembered = -1;
    // The downloads of earlier runs the journal gave at start, in the list's first lines.
    RememberedDownloads remembered;
    // Set once a write failed and was logged, so a full disk is not reported every refresh.
    bool journalFailureLogged = false;
    // The line of the downloads list under the pointer, whose text is the tooltip; or -1.
    int tooltipLine = -1;
    // What the downloads list shows of the jobs, and each job's state at the last refresh.
    DownloadsTable downloadsTable{kJobCount};
    DownloadNotifier notifier;

private:
    void BuildLayout();
    // The answer to lookup number; any but the latest is dropped.
    void OnLookupReply(std::uint64_t number, FetchOutcome outcome, const wxString& reply);
    // Ends the lookup under way, if any, so that its answer never shows.
    void EndLookup();
    // The line beside the formats list: text (empty hides it) with its tooltip, and the
    // activity indicator turning while busy.
    void ShowLookupStatus(const wxString& text, const wxString& tooltip, bool busy);
    // Restores, shows and raises the window, and asks for the user's attention.
    void BringForward();
    void BuildMenus();
    // Removes the temporary files of records no download has taken over.
    void RemoveUnusedTempFiles();
    bool HasNotificationArea() const;
    void BindDownloadsList();
    // Shows the menu of the given line at pos (the list's coordinates).
    void ShowDownloadMenu(int line, const wxPoint& pos);
    // The duplicate check: true, after telling the user, when a job other than exceptJob was
    // given the same record and is running, waiting or done.
    bool IsAlreadyDownloading(const StreamRecord& rec, int exceptJob = -1);
    // Records the job's download in the journal (a new record, or entry's when it has an id)
    // and lets the job keep it; then starts it. False when its thread did not start.
    bool StartJob(Downloader& job, const JournalEntry& entry);
    // Tells the user of a download that ended while the window was out of sight.
    void NotifyEnded(int job, DownloadState state);
    // The line under the pointer gets its full text as tooltip; -1 when none.
    void UpdateLineTooltip(int line);
    // The rules of the clipboard watch for one text read from the clipboard.
    void TakeUpClipboardText(const wxString& text);

public:
    // Addresses the user hands over: Enter in the address field, Ctrl+V outside a text field
    // and a link dropped on the window (lookup/AddressInput.cpp).
    void BindAddressInput();
    void OnAddressKey(wxKeyEvent& event);
    // Puts the address a pasted or dropped text holds into the field and loads it. From the
    // clipboard, a video address is also remembered as the clipboard watch's, so the next
    // tick does not load it a second time.
    void TakeUpGivenText(const wxString& text, bool fromClipboard);
};
