#include "download/DownloadsTable.h"

#include "download/DownloadLine.h"

#include <wx/intl.h>

#include <algorithm>

DownloadsTable::DownloadsTable(int jobCount)
    : seen(size_t(jobCount > 0 ? jobCount : 0), Idle), removed(seen.size(), false)
{
}

int DownloadsTable::JobOfLine(int line, int lineCount) const
{
    if (line < remembered || line >= lineCount)
        return -1;
    int at = remembered;
    for (size_t job = 0; job < removed.size(); ++job)
    {
        if (removed[job])
            continue;
        if (at == line)
            return int(job);
        ++at;
    }
    return -1;
}

int DownloadsTable::LineOfJob(int job) const
{
    const size_t end = std::min(removed.size(), size_t(job > 0 ? job : 0));
    return remembered +
           int(std::count(removed.begin(), removed.begin() + std::ptrdiff_t(end), false));
}

void DownloadsTable::RemoveJobLine(int job)
{
    if (job >= 0 && size_t(job) < removed.size())
        removed[size_t(job)] = true;
}

bool DownloadsTable::IsJobLineRemoved(int job) const
{
    return job >= 0 && size_t(job) < removed.size() && removed[size_t(job)];
}

int DownloadsTable::RememberedOfLine(int line, int lineCount) const
{
    if (line < 0 || line >= remembered || line >= lineCount)
        return -1;
    return line;
}

RememberedKind DownloadsTable::KindOf(const JournalEntry& entry, bool outputExists)
{
    switch (entry.state)
    {
    case JournalState::Done:
        return outputExists ? RememberedKind::Done : RememberedKind::Missing;
    case JournalState::Failed:
        return RememberedKind::Failed;
    case JournalState::Cancelled:
        return RememberedKind::Cancelled;
    case JournalState::Running:
        break;
    }
    return RememberedKind::Interrupted;
}

wxString DownloadsTable::RememberedLineText(const JournalEntry& entry, RememberedKind kind)
{
    StreamRecord rec;
    rec.type = entry.type;
    rec.title = entry.title;
    rec.outputPath = entry.outputPath;
    switch (kind)
    {
    case RememberedKind::Done:
        rec.statusText = _("Done");
        break;
    case RememberedKind::Missing:
        rec.statusText = _("Missing");
        break;
    case RememberedKind::Interrupted:
        rec.statusText = _("Interrupted");
        break;
    case RememberedKind::Failed:
    case RememberedKind::Cancelled:
        // As the line read when it ended: the error itself says more than "Failed".
        rec.statusText = entry.statusText.empty()
                             ? (kind == RememberedKind::Failed ? _("Failed") : _("Cancelled"))
                             : entry.statusText;
        break;
    }
    return MakeDownloadLine(rec, Done, DownloadProgress());
}

std::vector<DownloadMenuItem> DownloadsTable::RememberedMenuItems(RememberedKind kind)
{
    switch (kind)
    {
    case RememberedKind::Done:
        return {DownloadMenuItem::Open, DownloadMenuItem::ShowInFolder, DownloadMenuItem::Remove};
    case RememberedKind::Missing:
        return {DownloadMenuItem::Remove};
    case RememberedKind::Failed:
    case RememberedKind::Cancelled:
    case RememberedKind::Interrupted:
        break;
    }
    return {DownloadMenuItem::Retry, DownloadMenuItem::Remove};
}

wxString DownloadsTable::LineText(const StreamRecord& rec, DownloadState state,
                                  const DownloadProgress& progress)
{
    return MakeDownloadLine(rec, state, progress);
}

bool DownloadsTable::NoteState(int job, DownloadState state)
{
    if (job < 0 || size_t(job) >= seen.size())
        return false;
    const DownloadState before = seen[size_t(job)];
    seen[size_t(job)] = state;
    return (state == Done || state == Failed) && before != state;
}

std::vector<DownloadMenuItem> DownloadsTable::MenuItems(DownloadState state)
{
    switch (state)
    {
    case Busy:
        return {DownloadMenuItem::Cancel};
    case Failed:
        return {DownloadMenuItem::Retry, DownloadMenuItem::Remove};
    case Done:
        return {DownloadMenuItem::Open, DownloadMenuItem::ShowInFolder, DownloadMenuItem::Remove};
    case Idle:
        break;
    }
    return {};
}

wxString DownloadsTable::MenuLabel(DownloadMenuItem item)
{
    switch (item)
    {
    case DownloadMenuItem::Cancel:
        return _("Cancel");
    case DownloadMenuItem::Retry:
        return _("Retry");
    case DownloadMenuItem::Open:
        return _("Open");
    case DownloadMenuItem::ShowInFolder:
        return _("Show in folder");
    case DownloadMenuItem::Remove:
        return _("Remove from list");
    }
    return wxString();
}
