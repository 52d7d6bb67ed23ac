#pragma once

#include "download/DownloadProgress.h"
#include "download/DownloadState.h"
#include "lookup/StreamRecord.h"

#include <wx/string.h>

#include <vector>

// The items a line's menu may offer.
enum class DownloadMenuItem
{
    Cancel,
    Retry,
    Open,
    ShowInFolder,
};

// What the downloads list shows of the jobs, apart from the list control. Line n shows job
// n: jobs are taken in order and a job never goes back to Idle once it ran, so the jobs that
// have lines are the first ones. Remembers each job's state at the last refresh, to tell which
// jobs ended since.
class DownloadsTable
{
public:
    explicit DownloadsTable(int jobCount);

    // The job the line shows, for a list of lineCount lines; -1 when it shows none.
    int JobOfLine(int line, int lineCount) const;
    // Whether a job in this state has a line.
    static bool HasLine(DownloadState state) { return state != Idle; }
    // The line's text: "[status] type 'title' > output", and the progress while transferring.
    static wxString LineText(const StreamRecord& rec, DownloadState state,
                             const DownloadProgress& progress);
    // Notes the job's state at this refresh: true when it has ended (Done or Failed) since the
    // last one, so each end is told once.
    bool NoteState(int job, DownloadState state);

    // The items of a line's menu for its job's state, in their order; none for Idle.
    static std::vector<DownloadMenuItem> MenuItems(DownloadState state);
    static wxString MenuLabel(DownloadMenuItem item);
    // Activating a line opens the file of a job in this state.
    static bool OpensOnActivation(DownloadState state) { return state == Done; }
    // Whether a job in this state stands in the way of a new download of its record. A
    // finished file is never replaced, so downloading it again would only make a second copy;
    // a failed job is no obstacle: it has no file, and a new try is welcome.
    static bool HoldsItsRecord(DownloadState state) { return state == Busy || state == Done; }

private:
    std::vector<DownloadState> seen;
};
