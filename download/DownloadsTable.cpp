#include "download/DownloadsTable.h"

#include "download/DownloadLine.h"

#include <wx/intl.h>

DownloadsTable::DownloadsTable(int jobCount) : seen(size_t(jobCount > 0 ? jobCount : 0), Idle) {}

int DownloadsTable::JobOfLine(int line, int lineCount) const
{
    if (line < 0 || line >= lineCount || size_t(line) >= seen.size())
        return -1;
    return line;
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
        return {DownloadMenuItem::Retry};
    case Done:
        return {DownloadMenuItem::Open, DownloadMenuItem::ShowInFolder};
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
    }
    return wxString();
}
