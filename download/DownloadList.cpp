// The Download action and the downloads list of the main window, with each line's menu.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "ui/DesktopActions.h"
#include "ui/MiddleEllipsis.h"

#include <wx/datetime.h>
#include <wx/filefn.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/msgout.h>

#include <algorithm>
#include <memory>

namespace
{
constexpr std::int64_t kBytesPerKiB = 1024;

std::int64_t SpeedLimitBytes()
{
    return std::int64_t(AppConfig().GetSpeedLimitKiB()) * kBytesPerKiB;
}

// The journal's troubles go to the log on the standard error, as the program's others do: a
// box at start, before the window is up, would hold the user for what costs only memory.
void LogJournalProblem(const wxString& text)
{
    wxMessageOutputStderr().Printf("norvik: %s\n", text);
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
    case DownloadMenuItem::Remove:
        return NorvikFrame::ID_MENU_REMOVE;
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
        const int line = downloadsTable.LineOfJob(i);
        if (unsigned(line) < downloadsList->GetCount())
        {
            downloadsList->SetSelection(line);
            downloadsList->EnsureVisible(line);
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
        const StreamRecord rec = downloaders[i].GetRecord();
        const DownloadProgress progress = downloaders[i].GetProgress();
        RecordJob(int(i), state, rec, progress);
        const wxString line = DownloadsTable::LineText(rec, state, progress);
        const unsigned at = unsigned(downloadsTable.LineOfJob(int(i)));
        if (at < count)
            downloadsList->SetString(at, line);
        else
            downloadsList->Append(line);
        if (int(at) == tooltipLine)
            downloadsList->SetToolTip(line);
        if (ended)
            NotifyEnded(int(i), state);
    }
}

void NorvikFrame::RecordJob(int job, DownloadState state, const StreamRecord& rec,
                            const DownloadProgress& progress)
{
    JournalEntry& last = recorded[size_t(job)];
    JournalEntry now = last;
    now.state = state == Busy                     ? JournalState::Running
                : state == Done                   ? JournalState::Done
                : downloaders[job].WasCancelled() ? JournalState::Cancelled
                                                  : JournalState::Failed;
    now.title = rec.title;
    now.type = rec.type;
    now.url = rec.url;
    now.itag = rec.itag;
    now.outputPath = rec.outputPath;
    now.tempPath = rec.tempPath;
    now.statusText = rec.statusText;
    if (progress.received > 0 || state != Busy)
        now.received = progress.received;
    bool written = true;
    if (last.id == 0)
    {
        now.startedAt = wxDateTime::Now().GetTicks();
        now.id = journal.Add(now);
        written = now.id != 0;
    }
    else if (now.state != last.state || now.outputPath != last.outputPath ||
             now.tempPath != last.tempPath || now.statusText != last.statusText ||
             now.received != last.received)
        written = journal.Update(now);
    else
        return;
    if (written)
        last = now;
    else if (journal.IsOpen() && !journalFailureLogged)
    {
        journalFailureLogged = true;
        LogJournalProblem(wxString::Format(_("The journal of downloads could not be written "
                                             "(%s); the downloads of this run may not be "
                                             "remembered."),
                                           journal.LastError()));
    }
}

void NorvikFrame::ShowRememberedDownloads()
{
    wxString problem;
    journal.Open(DownloadJournal::DefaultPath(), problem);
    if (!problem.empty())
        LogJournalProblem(problem);
    remembered = journal.Load();
    rememberedKinds.clear();
    for (const JournalEntry& entry : remembered)
    {
        const RememberedKind kind = DownloadsTable::KindOf(
            entry, !entry.outputPath.empty() && wxFileExists(entry.outputPath));
        rememberedKinds.push_back(kind);
        downloadsList->Append(DownloadsTable::RememberedLineText(entry, kind));
    }
    downloadsTable.SetRememberedCount(int(remembered.size()));
}

void NorvikFrame::RemoveRemembered(int index)
{
    if (index < 0 || size_t(index) >= remembered.size())
        return;
    if (!journal.Remove(remembered[size_t(index)].id) && journal.IsOpen())
        LogJournalProblem(wxString::Format(
            _("The download could not be taken out of the journal (%s)."), journal.LastError()));
    remembered.erase(remembered.begin() + index);
    rememberedKinds.erase(rememberedKinds.begin() + index);
    downloadsList->Delete(unsigned(index));
    downloadsTable.SetRememberedCount(int(remembered.size()));
    UpdateLineTooltip(-1);
}

bool NorvikFrame::RetryRemembered(int index)
{
    if (index < 0 || size_t(index) >= remembered.size())
        return false;
    const JournalEntry& entry = remembered[size_t(index)];
    StreamRecord rec;
    rec.title = entry.title;
    rec.type = entry.type;
    rec.url = entry.url;
    rec.itag = entry.itag;
    rec.outputPath = entry.outputPath;
    if (IsAlreadyDownloading(rec))
        return false;
    for (int i = 0; i < kJobCount; ++i)
    {
        Downloader& job = downloaders[i];
        if (job.GetState() != Idle)
            continue;
        job.SetRecord(rec);
        job.SetSpeedLimit(SpeedLimitBytes());
        job.start();
        if (job.GetState() == Idle)
            return false;
        // The job of this run carries the download on, with a record of its own.
        RemoveRemembered(index);
        RefreshDownloadsList();
        return true;
    }
    wxMessageBox(wxString::Format(_("All %d downloads of this session have been used. Quit "
                                    "Norvik and start it again to download more."),
                                  kJobCount));
    return false;
}

void NorvikFrame::OnRemoveDownload(wxCommandEvent&)
{
    RemoveRemembered(menuRemembered);
    menuRemembered = -1;
}

void NorvikFrame::OnClearFinished(wxCommandEvent&)
{
    for (int i = int(remembered.size()) - 1; i >= 0; --i)
        if (DownloadsTable::IsFinished(rememberedKinds[size_t(i)]))
            RemoveRemembered(i);
    menuRemembered = -1;
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
    Bind(wxEVT_MENU, &NorvikFrame::OnRemoveDownload, this, ID_MENU_REMOVE);
    Bind(wxEVT_MENU, &NorvikFrame::OnClearFinished, this, ID_MENU_CLEAR_FINISHED);
}

wxMenu* NorvikFrame::MakeDownloadMenu(int job)
{
    auto* menu = new wxMenu;
    for (const DownloadMenuItem item : DownloadsTable::MenuItems(downloaders[job].GetState()))
        menu->Append(MenuItemId(item), DownloadsTable::MenuLabel(item));
    return menu;
}

void NorvikFrame::ShowDownloadMenu(int line, const wxPoint& pos)
{
    const int lines = int(downloadsList->GetCount());
    const int job = downloadsTable.JobOfLine(line, lines);
    const int earlier = downloadsTable.RememberedOfLine(line, lines);
    std::unique_ptr<wxMenu> menu;
    if (job >= 0)
        menu.reset(MakeDownloadMenu(job));
    else if (earlier >= 0)
    {
        menu = std::make_unique<wxMenu>();
        for (const DownloadMenuItem item :
             DownloadsTable::RememberedMenuItems(rememberedKinds[size_t(earlier)]))
            menu->Append(MenuItemId(item), DownloadsTable::MenuLabel(item));
    }
    else
        menu = std::make_unique<wxMenu>();
    if (std::any_of(rememberedKinds.begin(), rememberedKinds.end(), DownloadsTable::IsFinished))
    {
        if (menu->GetMenuItemCount() > 0)
            menu->AppendSeparator();
        menu->Append(ID_MENU_CLEAR_FINISHED, _("Clear finished"));
    }
    if (menu->GetMenuItemCount() == 0)
        return;
    if (line >= 0 && line < lines)
        downloadsList->SetSelection(line);
    menuJob = job;
    menuRemembered = earlier;
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
    const int lines = int(downloadsList->GetCount());
    const int earlier = downloadsTable.RememberedOfLine(event.GetInt(), lines);
    if (earlier >= 0 && rememberedKinds[size_t(earlier)] == RememberedKind::Done)
        DesktopActions::OpenFile(remembered[size_t(earlier)].outputPath);
    const int job = downloadsTable.JobOfLine(event.GetInt(), lines);
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
    if (menuRemembered >= 0)
    {
        RetryRemembered(menuRemembered);
        menuRemembered = -1;
        return;
    }
    // The job's own record is compared with the others: it must not count against itself.
    if (menuJob < 0 || IsAlreadyDownloading(downloaders[menuJob].GetRecord(), menuJob))
        return;
    downloaders[menuJob].SetSpeedLimit(SpeedLimitBytes());
    downloaders[menuJob].Retry();
    RefreshDownloadsList();
}

void NorvikFrame::OnOpenDownload(wxCommandEvent&)
{
    if (menuRemembered >= 0 && size_t(menuRemembered) < remembered.size())
        DesktopActions::OpenFile(remembered[size_t(menuRemembered)].outputPath);
    if (menuJob >= 0)
        DesktopActions::OpenFile(downloaders[menuJob].GetRecord().outputPath);
}

void NorvikFrame::OnShowDownloadInFolder(wxCommandEvent&)
{
    if (menuRemembered >= 0 && size_t(menuRemembered) < remembered.size())
        DesktopActions::ShowInFolder(remembered[size_t(menuRemembered)].outputPath);
    if (menuJob >= 0)
        DesktopActions::ShowInFolder(downloaders[menuJob].GetRecord().outputPath);
}
