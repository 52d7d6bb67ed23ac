#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "lookup/LookupRequest.h"
#include "resources/Icons.h"
#include "ui/AboutDlg.h"
#include "ui/BlockingWork.h"
#include "ui/ClipboardReader.h"
#include "ui/OptionsDlg.h"

#include <wx/activityindicator.h>
#include <wx/button.h>
#include <wx/html/htmlwin.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

// Identifiers are drawn once at program start, in this order.
const long NorvikFrame::ID_TEXTCTRL1 = wxNewId();
const long NorvikFrame::ID_BUTTON2 = wxNewId();
const long NorvikFrame::ID_TEXTCTRL2 = wxNewId();
const long NorvikFrame::ID_HTMLWINDOW1 = wxNewId();
const long NorvikFrame::ID_LISTBOX1 = wxNewId();
const long NorvikFrame::ID_BUTTON1 = wxNewId();
const long NorvikFrame::ID_LISTBOX2 = wxNewId();
const long NorvikFrame::ID_MENU_OPTIONS = wxNewId();
const long NorvikFrame::ID_MENU_QUIT = wxNewId();
const long NorvikFrame::ID_MENU_UPDATES = wxNewId();
const long NorvikFrame::ID_MENU_ABOUT = wxNewId();
const long NorvikFrame::ID_TIMER1 = wxNewId();
const long NorvikFrame::ID_MENU_CANCEL = wxNewId();
const long NorvikFrame::ID_MENU_RETRY = wxNewId();
const long NorvikFrame::ID_MENU_OPEN = wxNewId();
const long NorvikFrame::ID_MENU_SHOWFOLDER = wxNewId();
const long NorvikFrame::ID_MENU_REMOVE = wxNewId();
const long NorvikFrame::ID_MENU_CLEAR_FINISHED = wxNewId();

const wxString NorvikFrame::kVersion = "2.0";
std::uint32_t NorvikFrame::tickCount = 0;
wxString NorvikFrame::lastClipboardUrl;

namespace
{
constexpr int kBorder = 5;
constexpr int kTrayIconSize = 32;
constexpr int kCentred = wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL;
const wxSize kUrlTextSize(280, 14);
constexpr int kUrlTextMinHeight = 25;
const wxSize kPreviewSize(150, 110);
const wxSize kDownloadButtonSize(85, 33);
// Room beside a button's label, as the theme's own buttons leave it.
constexpr int kButtonLabelMargin = 20;
// Downloads list refresh every third tick, from the first.
constexpr std::uint32_t kRefreshEvery = 3;
constexpr std::uint32_t kRefreshPhase = 1;
// Automatic update checks: tick 180 (90 s), then every 1000 ticks (500 s).
constexpr std::uint32_t kUpdateCheckEvery = 1000;
constexpr std::uint32_t kUpdateCheckPhase = 180;
} // namespace

NorvikFrame::NorvikFrame(wxWindow* parent, wxWindowID)
{
    Create(parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE,
           "wxID_ANY");
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW));
    BuildLayout();
    BuildMenus();
    tickTimer.SetOwner(this, ID_TIMER1);
    tickTimer.Start(kTimerPeriodMs, wxTIMER_CONTINUOUS);
    GetSizer()->Fit(this);
    GetSizer()->SetSizeHints(this);

    Bind(wxEVT_BUTTON, &NorvikFrame::LoadVideo, this, ID_BUTTON2);
    Bind(wxEVT_BUTTON, &NorvikFrame::OnDownload, this, ID_BUTTON1);
    Bind(wxEVT_MENU, &NorvikFrame::OnOptions, this, ID_MENU_OPTIONS);
    Bind(wxEVT_MENU, &NorvikFrame::OnQuit, this, ID_MENU_QUIT);
    Bind(wxEVT_MENU, &NorvikFrame::OnCheckForUpdates, this, ID_MENU_UPDATES);
    Bind(wxEVT_MENU, &NorvikFrame::OnAbout, this, ID_MENU_ABOUT);
    Bind(wxEVT_TIMER, &NorvikFrame::OnTimer, this, ID_TIMER1);
    Bind(wxEVT_CLOSE_WINDOW, &NorvikFrame::OnClose, this);
    BindDownloadsList();
    BindAddressInput();

    SetTitle("Norvik " + kVersion);
    SetIcons(Icons::GetNkBundle());
    SetBackgroundColour(wxColour("white"));
    trayIcon.SetMainFrame(this);
    trayIcon.SetIcon(Icons::GetNk(kTrayIconSize), wxString());
    updateCheckDone = false;
    WatchModalDialogs();
    watchClipboard = AppConfig().GetWatchClipboard();
    if (watchClipboard)
        clipboardReader = std::make_unique<ClipboardReader>();
    ShowRememberedDownloads();
    trayIcon.SetClipboardSwitch([this] { return watchClipboard; },
                                [this](bool on) { SetClipboardWatch(on); });
}

NorvikFrame::~NorvikFrame()
{
    EndJobsAndRemoveFiles();
}

void NorvikFrame::BuildLayout()
{
    // The layout keeps its centring flags beside wxEXPAND; the toolkit ignores them there, as
    // it always did, but since 3.1 it also asserts about it.
    wxSizerFlags::DisableConsistencyChecks();
    auto* root = new wxBoxSizer(wxVERTICAL);

    auto* urlBox = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Video URL"));
    urlText = new wxTextCtrl(this, ID_TEXTCTRL1, wxString(), wxDefaultPosition, kUrlTextSize,
                             wxTE_PROCESS_ENTER, wxDefaultValidator, "ID_TEXTCTRL1");
    urlText->SetMinSize(wxSize(wxDefaultCoord, kUrlTextMinHeight));
    urlText->SetFocus();
    urlBox->Add(urlText, 1, wxALL | wxEXPAND | kCentred, kBorder);
    loadButton = new wxButton(this, ID_BUTTON2, _("Load"), wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, "ID_BUTTON2");
    urlBox->Add(loadButton, 0, wxALL | kCentred, kBorder);
    root->Add(urlBox, 0, wxALL | wxEXPAND | kCentred, kBorder);

    auto* videoBox = new wxStaticBoxSizer(wxVERTICAL, this, _("Current Video"));
    titleText = new wxTextCtrl(this, ID_TEXTCTRL2, wxString(), wxDefaultPosition, wxDefaultSize,
                               wxTE_READONLY | wxTE_CENTRE, wxDefaultValidator, "ID_TEXTCTRL2");
    videoBox->Add(titleText, 0, wxALL | wxEXPAND | kCentred, kBorder);
    auto* previewRow = new wxBoxSizer(wxHORIZONTAL);
    previewHtml = new wxHtmlWindow(this, ID_HTMLWINDOW1, wxDefaultPosition, kPreviewSize,
                                   wxBORDER_SUNKEN | wxHW_NO_SELECTION | wxHW_SCROLLBAR_NEVER,
                                   "ID_HTMLWINDOW1");
    previewHtml->SetMinSize(kPreviewSize);
    previewRow->Add(previewHtml, 1, wxALL | wxEXPAND | wxFIXED_MINSIZE | kCentred, kBorder);
    auto* listArea = new wxBoxSizer(wxHORIZONTAL);
    // Above the list, shown only while a lookup runs or after one failed.
    auto* listColumn = new wxBoxSizer(wxVERTICAL);
    auto* statusRow = new wxBoxSizer(wxHORIZONTAL);
    lookupSpinner = new wxActivityIndicator(this, wxID_ANY);
    lookupSpinner->Hide();
    statusRow->Add(lookupSpinner, 0, wxRIGHT | wxALIGN_CENTER_VERTICAL, kBorder);
    lookupStatus = new wxStaticText(this, wxID_ANY, wxString());
    lookupStatus->Hide();
    statusRow->Add(lookupStatus, 1, wxALIGN_CENTER_VERTICAL);
    listColumn->Add(statusRow, 0, wxLEFT | wxRIGHT | wxTOP | wxEXPAND, kBorder);
    formatsList = new wxListBox(this, ID_LISTBOX1, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0,
                                wxDefaultValidator, "ID_LISTBOX1");
    listColumn->Add(formatsList, 1, wxALL | wxEXPAND | wxFIXED_MINSIZE | kCentred, kBorder);
    listArea->Add(listColumn, 2, wxEXPAND);
    auto* buttonColumn = new wxBoxSizer(wxVERTICAL);
    buttonColumn->Add(-1, -1, 1, wxALL | kCentred, kBorder);
    buttonColumn->Add(-1, -1, 1, wxALL | kCentred, kBorder);
    downloadButton = new wxButton(this, ID_BUTTON1, _("Download"), wxDefaultPosition,
                                  kDownloadButtonSize, 0, wxDefaultValidator, "ID_BUTTON1");
    // A translation longer than the label the fixed size was made for ("Herunterladen")
    // widens the button instead of being cut off at its edges.
    const int labelWidth =
        downloadButton->GetTextExtent(downloadButton->GetLabelText()).x + kButtonLabelMargin;
    if (labelWidth > kDownloadButtonSize.x)
    {
        const wxSize widened(labelWidth, kDownloadButtonSize.y);
        downloadButton->SetMinSize(widened);
        downloadButton->SetSize(widened);
    }
    buttonColumn->Add(downloadButton, 0, wxALL | kCentred, kBorder);
    listArea->Add(buttonColumn, 1, wxALL | wxEXPAND | kCentred, kBorder);
    previewRow->Add(listArea, 2, wxALL | wxEXPAND | kCentred, kBorder);
    videoBox->Add(previewRow, 2, wxALL | wxEXPAND | kCentred, kBorder);
    root->Add(videoBox, 3, wxALL | wxEXPAND | kCentred, kBorder);

    auto* downloadsBox = new wxStaticBoxSizer(wxHORIZONTAL, this, _("Downloads"));
    downloadsList = new wxListBox(this, ID_LISTBOX2, wxDefaultPosition, wxDefaultSize, 0, nullptr,
                                  0, wxDefaultValidator, "ID_LISTBOX2");
    // The size the empty list asks for, whatever it holds later: otherwise every layout
    // measures each line's text, and a thousand remembered downloads cost the start a tenth
    // of a second.
    downloadsList->SetMinSize(downloadsList->GetBestSize());
    downloadsBox->Add(downloadsList, 1, wxALL | wxEXPAND | kCentred, kBorder);
    root->Add(downloadsBox, 2, wxALL | wxEXPAND | kCentred, kBorder);

    SetSizer(root);
}

void NorvikFrame::BuildMenus()
{
    auto* menuBar = new wxMenuBar;
    auto* fileMenu = new wxMenu;
    fileMenu->Append(ID_MENU_OPTIONS, _("Options..."), _("Options panel"), wxITEM_NORMAL);
    fileMenu->Append(ID_MENU_QUIT, _("Quit\tAlt-F4"), _("Quit the application"), wxITEM_NORMAL);
    menuBar->Append(fileMenu, _("&File"));
    auto* helpMenu = new wxMenu;
    helpMenu->Append(ID_MENU_UPDATES, _("Check for updates"), _("Check for Norvik updates"),
                     wxITEM_NORMAL);
    helpMenu->Append(ID_MENU_ABOUT, _("About\tF1"), _("Show info about this application"),
                     wxITEM_NORMAL);
    menuBar->Append(helpMenu, _("Help"));
    SetMenuBar(menuBar);
}

bool NorvikFrame::HasNotificationArea() const
{
    return wxTaskBarIcon::IsAvailable();
}

void NorvikFrame::OnTimer(wxTimerEvent&)
{
    // A tick that arrives while other work waits inside the toolkit does nothing and is not
    // counted, as if the event loop had been blocked.
    if (blockingWork)
        return;
    BlockingWork work(blockingWork, false);
    ++tickCount;
    CheckClipboard();
    if (tickCount % kRefreshEvery == kRefreshPhase)
        RefreshDownloadsList();
    if (!updateCheckDone && !updateCheckUnderWay &&
        tickCount % kUpdateCheckEvery == kUpdateCheckPhase)
    {
        updateCheckUnderWay = true;
        wxCommandEvent check(wxEVT_MENU, ID_MENU_UPDATES);
        AddPendingEvent(check);
    }
}

void NorvikFrame::OnClose(wxCloseEvent&)
{
    // Without a notification area a hidden window could never be brought back.
    if (HasNotificationArea())
        Show(false);
    else
        Iconize(true);
}

void NorvikFrame::OnQuit(wxCommandEvent&)
{
    wxMessageDialog question(this, _("Are you sure you want to quit?"), "Norvik",
                             wxYES_NO | wxNO_DEFAULT);
    if (question.ShowModal() == wxID_YES)
        QuitNow();
}

void NorvikFrame::OnOptions(wxCommandEvent&)
{
    OptionsDlg dialog(this, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dialog.ShowModal();
    SetClipboardWatch(AppConfig().GetWatchClipboard());
}

void NorvikFrame::OnAbout(wxCommandEvent&)
{
    AboutDlg dialog(this, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    dialog.ShowModal();
}
