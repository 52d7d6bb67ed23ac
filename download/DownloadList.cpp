// The Download action and the downloads list of the main window, with each line's menu.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "ui/DesktopActions.h"
#include "ui/MiddleEllipsis.h"

#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include <memory>

namespace
{
constexpr std::int64_t kBytesPerKiB = 1024;

std::int64_t SpeedLimitBytes()
{
    return std::int64_t(AppConfig().GetSpeedLimitKiB()) * kBytesPerKiB;
}

long MenuItemId(DownloadMenuItem item)
{
    switch (item)
    {
    case DownloadMenuItem::Cancel:
        return NorvikFrame::ID_MENU_CANCEL;
    case DownloadMenuItem::Retry:
        return NorvikFrame::ID_MENU_RETRY;
    case DownloadMenuItem::Open:
        return NorvikFrame::ID_MENU_OPEN;
    case DownloadMenuItem::ShowInFolder:
        return NorvikFrame::ID_MENU_SHOWFOLDER;
    }
    return wxID_NONE;
}
} // namespace

void NorvikFrame::OnDownload(wxCommandEvent&)
{
    const int selected = formatsList->GetSelection();
    if (selected < 0 || selected >= recordCount)
        return;
    StreamRecord& chosen = records[selected];
    if (IsAlreadyDownloading(chosen))
        return;
    for (int i = 0; i < kJobCount; ++i)
    {
        Downloader& job = downloaders[i];
        if (job.GetState() != Idle)
            continue;
        job.SetRecord(chosen);
        job.SetSpeedLimit(SpeedLimitBytes());
        job.start();
        if (job.GetState() == Idle)
            return;
        // The job owns the temporary file now; a later download of the same line makes
        // a fresh one, so two jobs never write the same file.
        chosen.tempPath.clear();
        // The list may show only a few lines: the new one is brought into sight at once
        // rather than at the next refresh, below the others.
        RefreshDownloadsList();
        if (unsigned(i) < downloadsList->GetCount())
        {
            downloadsList->SetSelection(i);
            downloadsList->EnsureVisible(i);
        }
        return;
    }
    // Jobs are never used twice in one run, so the only way on is a fresh start.
    wxMessageBox(wxString::Format(_("All %d downloads of this session have been used. Quit "
                                    "Norvik and start it again to download more."),
                                  kJobCount));
}

bool NorvikFrame::IsAlreadyDownloading(const StreamRecord& rec, int exceptJob)
{
    for (int i = 0; i < kJobCount; ++i)
    {
        if (i == exceptJob || !DownloadsTable::HoldsItsRecord(downloaders[i].GetState()))
            continue;
        if (downloaders[i].IsOfRecord(rec))
        {
            wxMessageBox(_("You are already downloading this file."));
            return true;
        }
    }
    return false;
}

void NorvikFrame::RefreshDownloadsList()
{
    const unsigned count = downloadsList->GetCount();
    for (unsigned i = 0; i < unsigned(kJobCount); ++i)
    {
        const DownloadState state = downloaders[i].GetState();
        const bool ended = downloadsTable.NoteState(int(i), state);
        if (!DownloadsTable::HasLine(state))
            continue;
        const wxString line = DownloadsTable::LineText(downloaders[i].GetRecord(), state,
                                                       downloaders[i].GetProgress());
        if (i < count)
            downloadsList->SetString(i, line);
        else
            downloadsList->Append(line);
        if (int(i) == tooltipLine)
            downloadsList->SetToolTip(line);
        if (ended)
            NotifyEnded(int(i), state);
    }
}

void NorvikFrame::NotifyEnded(int job, DownloadState state)
{
    const bool outOfSight = !IsShown() || IsIconized() || !IsActive();
    if (!outOfSight || downloaders[job].WasCancelled())
        return;
    const StreamRecord rec = downloaders[job].GetRecord();
    if (state == Done)
        notifier.NotifyDone(job, rec.title, rec.outputPath);
    else
        notifier.NotifyFailed(job, rec.title, rec.statusText);
}

void NorvikFrame::BindDownloadsList()
{
    EllipsizeLinesInTheMiddle(downloadsList);
    downloadsList->Bind(wxEVT_CONTEXT_MENU, &NorvikFrame::OnDownloadsMenu, this);
    // The native list reports Enter on a line as a double click.
    downloadsList->Bind(wxEVT_LISTBOX_DCLICK, &NorvikFrame::OnDownloadActivated, this);
    downloadsList->Bind(wxEVT_MOTION, &NorvikFrame::OnDownloadsMotion, this);
    downloadsList->Bind(wxEVT_LEAVE_WINDOW,
                        [this](wxMouseEvent& event)
                        {
                            UpdateLineTooltip(-1);
                            event.Skip();
                        });
    Bind(wxEVT_MENU, &NorvikFrame::OnCancelDownload, this, ID_MENU_CANCEL);
    Bind(wxEVT_MENU, &NorvikFrame::OnRetryDownload, this, ID_MENU_RETRY);
    Bind(wxEVT_MENU, &NorvikFrame::OnOpenDownload, this, ID_MENU_OPEN);
    Bind(wxEVT_MENU, &NorvikFrame::OnShowDownloadInFolder, this, ID_MENU_SHOWFOLDER);
}

wxMenu* NorvikFrame::MakeDownloadMenu(int job)
{
    auto* menu = new wxMenu;
    for (const DownloadMenuItem item : DownloadsTable::MenuItems(downloaders[job].GetState()))
        menu->Append(MenuItemId(item), DownloadsTable::MenuLabel(item));
    return menu;
}

void NorvikFrame::ShowDownloadMenu(int job, const wxPoint& pos)
{
    if (downloadsTable.JobOfLine(job, int(downloadsList->GetCount())) < 0)
        return;
    std::unique_ptr<wxMenu> menu(MakeDownloadMenu(job));
    if (menu->GetMenuItemCount() == 0)
        return;
    downloadsList->SetSelection(job);
    menuJob = job;
    downloadsList->PopupMenu(menu.get(), pos);
}

void NorvikFrame::OnDownloadsMenu(wxContextMenuEvent& event)
{
    // From the keyboard the position is unset: the menu is for the selected line.
    if (event.GetPosition() == wxDefaultPosition)
    {
        ShowDownloadMenu(downloadsList->GetSelection(), wxDefaultPosition);
        return;
    }
    const wxPoint at = downloadsList->ScreenToClient(event.GetPosition());
    ShowDownloadMenu(downloadsList->HitTest(at), at);
}

void NorvikFrame::OnDownloadActivated(wxCommandEvent& event)
{
    const int job = downloadsTable.JobOfLine(event.GetInt(), kJobCount);
    if (job < 0 || !DownloadsTable::OpensOnActivation(downloaders[job].GetState()))
        return;
    DesktopActions::OpenFile(downloaders[job].GetRecord().outputPath);
}

void NorvikFrame::OnDownloadsMotion(wxMouseEvent& event)
{
    UpdateLineTooltip(downloadsList->HitTest(event.GetPosition()));
    event.Skip();
}

void NorvikFrame::UpdateLineTooltip(int line)
{
    if (line == tooltipLine)
        return;
    tooltipLine = line;
    if (line < 0 || line >= int(downloadsList->GetCount()))
        downloadsList->UnsetToolTip();
    else
        downloadsList->SetToolTip(downloadsList->GetString(unsigned(line)));
}

void NorvikFrame::OnCancelDownload(wxCommandEvent&)
{
    if (menuJob >= 0)
        downloaders[menuJob].Cancel();
}

void NorvikFrame::OnRetryDownload(wxCommandEvent&)
{
    // The job's own record is compared with the others: it must not count against itself.
    if (menuJob < 0 || IsAlreadyDownloading(downloaders[menuJob].GetRecord(), menuJob))
        return;
    downloaders[menuJob].SetSpeedLimit(SpeedLimitBytes());
    downloaders[menuJob].Retry();
    RefreshDownloadsList();
}

void NorvikFrame::OnOpenDownload(wxCommandEvent&)
{
    if (menuJob >= 0)
        DesktopActions::OpenFile(downloaders[menuJob].GetRecord().outputPath);
}

void NorvikFrame::OnShowDownloadInFolder(wxCommandEvent&)
{
    if (menuJob >= 0)
        DesktopActions::ShowInFolder(downloaders[menuJob].GetRecord().outputPath);
}
