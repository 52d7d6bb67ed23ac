// The Download action and the downloads list of the main window, with each line's menu.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "download/NarrowPath.h"
#include "download/TempFileRegistry.h"
#include "lookup/ServiceAddress.h"
#include "ui/DesktopActions.h"
#include "ui/MiddleEllipsis.h"

#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/msgout.h>

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

// A partial file a removed line leaves: the journal named it, nobody else will.
void RemovePartialFile(const wxString& path)
{
    if (!path.empty() && TempFileRegistry::IsOurName(NarrowPath(path)))
        TempFileRegistry::Remove(path);
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
        if (!StartJob(job, JournalEntry::ForRecord(chosen)))
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
        if (!DownloadsTable::HasLine(state) || downloadsTable.IsJobLineRemoved(int(i)))
            continue;
        const StreamRecord rec = downloaders[i].GetRecord();
        const DownloadProgress progress = downloaders[i].GetProgress();
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
    // The workers write the journal where no one sees a failure: it is told here, once a run.
    const wxString failure = journal.TakeUnreportedFailure();
    if (!failure.empty() && !journalFailureLogged)
    {
        journalFailureLogged = true;
        LogJournalProblem(wxString::Format(_("The journal of downloads could not be written "
                                             "(%s); the downloads of this run may not be "
                                             "remembered."),
                                           failure));
    }
}

bool NorvikFrame::StartJob(Downloader& job, const JournalEntry& entry)
{
    JournalEntry kept = entry;
    if (kept.id == 0)
        kept.id = journal.Add(kept);
    // Without a record the job runs as it did before there was a journal.
    job.Remember(kept.id != 0 ? &journal : nullptr, kept);
    job.SetSpeedLimit(SpeedLimitBytes());
    job.start();
    if (job.GetState() != Idle)
        return true;
    // Not started: a record made for it would come back as interrupted.
    if (entry.id == 0 && kept.id != 0)
        journal.Remove(kept.id);
    job.Remember(nullptr, JournalEntry());
    return false;
}

void NorvikFrame::ShowRememberedDownloads()
{
    wxString problem;
    journal.Open(DownloadJournal::DefaultPath(), problem);
    if (!problem.empty())
        LogJournalProblem(problem);
    remembered.Load(journal);
    // In one insertion, so the list takes in its new lines once, not line by line.
    wxArrayString lines;
    lines.reserve(remembered.Count());
    for (size_t i = 0; i < remembered.Count(); ++i)
        lines.push_back(
            DownloadsTable::RememberedLineText(remembered.Entry(i), remembered.Kind(i)));
    downloadsList->Append(lines);
    downloadsTable.SetRememberedCount(int(remembered.Count()));
    if (!AppConfig().GetResumeAtStart())
        return;
    // A retried download's line goes to its job, so the next one moves up to this index.
    for (size_t i = 0; i < remembered.Count();)
        if (remembered.Kind(i) != RememberedKind::Interrupted || !RetryRemembered(int(i)))
            ++i;
}

void NorvikFrame::RemoveRemembered(int index)
{
    if (index < 0 || size_t(index) >= remembered.Count())
        return;
    const JournalEntry& entry = remembered.Entry(size_t(index));
    if (!journal.Remove(entry.id) && journal.IsOpen())
        LogJournalProblem(wxString::Format(
            _("The download could not be taken out of the journal (%s)."), journal.LastError()));
    RemovePartialFile(entry.tempPath);
    remembered.Erase(size_t(index));
    downloadsList->Delete(unsigned(index));
    downloadsTable.SetRememberedCount(int(remembered.Count()));
    UpdateLineTooltip(-1);
}

void NorvikFrame::RemoveJobLine(int job)
{
    if (job < 0 || job >= kJobCount || downloadsTable.IsJobLineRemoved(job) ||
        !DownloadsTable::IsEnded(downloaders[job].GetState()))
        return;
    const std::int64_t id = downloaders[job].JournalId();
    if (id != 0 && !journal.Remove(id))
        LogJournalProblem(wxString::Format(
            _("The download could not be taken out of the journal (%s)."), journal.LastError()));
    // A finished job's file is in place under its own name; a failed one's bytes go.
    if (downloaders[job].GetState() == Failed)
        RemovePartialFile(downloaders[job].GetRecord().tempPath);
    downloaders[job].Remember(nullptr, JournalEntry());
    const int line = downloadsTable.LineOfJob(job);
    downloadsTable.RemoveJobLine(job);
    if (unsigned(line) < downloadsList->GetCount())
        downloadsList->Delete(unsigned(line));
    UpdateLineTooltip(-1);
}

bool NorvikFrame::RetryRemembered(int index)
{
    if (index < 0 || size_t(index) >= remembered.Count())
        return false;
    const JournalEntry entry = remembered.Entry(size_t(index));
    const RememberedDownloads::Retry retry =
        RememberedDownloads::MakeRetry(entry, [] { return ServiceAddress::ForRequest(); });
    if (IsAlreadyDownloading(retry.record))
        return false;
    for (Downloader& job : downloaders)
    {
        if (job.GetState() != Idle)
            continue;
        job.SetRecord(retry.record);
        job.ResumeFrom(retry.keptBytes, retry.validator);
        if (!StartJob(job, entry))
        {
            // The partial file stays the remembered line's, not the idle job's to remove.
            job.SetRecord(StreamRecord());
            return false;
        }
        // The job of this run carries the download on under the same record, with its line.
        remembered.Erase(size_t(index));
        downloadsList->Delete(unsigned(index));
        downloadsTable.SetRememberedCount(int(remembered.Count()));
        UpdateLineTooltip(-1);
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
    if (menuRemembered >= 0)
        RemoveRemembered(menuRemembered);
    else if (menuJob >= 0)
        RemoveJobLine(menuJob);
    menuRemembered = -1;
    menuJob = -1;
}

void NorvikFrame::OnClearFinished(wxCommandEvent&)
{
    for (int i = int(remembered.Count()) - 1; i >= 0; --i)
        if (DownloadsTable::IsFinished(remembered.Kind(size_t(i))))
            RemoveRemembered(i);
    for (int job = 0; job < kJobCount; ++job)
        RemoveJobLine(job);
    menuRemembered = -1;
    menuJob = -1;
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
             DownloadsTable::RememberedMenuItems(remembered.Kind(size_t(earlier))))
            menu->Append(MenuItemId(item), DownloadsTable::MenuLabel(item));
    }
    else
        menu = std::make_unique<wxMenu>();
    bool anyEnded = remembered.AnyFinished();
    for (int i = 0; i < kJobCount && !anyEnded; ++i)
        anyEnded = !downloadsTable.IsJobLineRemoved(i) &&
                   DownloadsTable::IsEnded(downloaders[i].GetState());
    if (anyEnded)
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
    if (earlier >= 0 && remembered.Kind(size_t(earlier)) == RememberedKind::Done)
        DesktopActions::OpenFile(remembered.Entry(size_t(earlier)).outputPath);
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
    if (menuRemembered >= 0 && size_t(menuRemembered) < remembered.Count())
        DesktopActions::OpenFile(remembered.Entry(size_t(menuRemembered)).outputPath);
    if (menuJob >= 0)
        DesktopActions::OpenFile(downloaders[menuJob].GetRecord().outputPath);
}

void NorvikFrame::OnShowDownloadInFolder(wxCommandEvent&)
{
    if (menuRemembered >= 0 && size_t(menuRemembered) < remembered.Count())
        DesktopActions::ShowInFolder(remembered.Entry(size_t(menuRemembered)).outputPath);
    if (menuJob >= 0)
        DesktopActions::ShowInFolder(downloaders[menuJob].GetRecord().outputPath);
}
