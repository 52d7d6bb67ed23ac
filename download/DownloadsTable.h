#pragma once

#include "download/DownloadJournal.h"
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
    Remove,
};

// How a download of an earlier run is shown: as it ended, its file gone since, or cut off by
// the end of that run.
enum class RememberedKind
{
    Done,
    Missing,
    Failed,
    Cancelled,
    Interrupted,
};

// What the downloads list shows of the jobs, apart from the list control. The downloads of
// earlier runs take the first lines; below them each job of this run that has a line, in job
// order: jobs are taken in order and a job never goes back to Idle once it ran, so the jobs
// that have lines are the first ones, less those whose lines were removed. Remembers each
// job's state at the last refresh, to tell which jobs ended since.
class DownloadsTable
{
public:
    explicit DownloadsTable(int jobCount);

    // The job the line shows, for a list of lineCount lines; -1 when it shows none.
    int JobOfLine(int line, int lineCount) const;
    // The downloads of earlier runs take the first lines, above this run's jobs.
    void SetRememberedCount(int count) { remembered = count > 0 ? count : 0; }
    int RememberedCount() const { return remembered; }
    // The remembered download the line shows, for a list of lineCount lines; -1 for none.
    int RememberedOfLine(int line, int lineCount) const;
    int LineOfJob(int job) const;
    // Takes the job's line away; the lines of the later jobs move up. The job stays used.
    void RemoveJobLine(int job);
    bool IsJobLineRemoved(int job) const;

    static RememberedKind KindOf(const JournalEntry& entry, bool outputExists);
    static wxString RememberedLineText(const JournalEntry& entry, RememberedKind kind);
    static std::vector<DownloadMenuItem> RememberedMenuItems(RememberedKind kind);
    // "Clear finished" takes these away; an interrupted one stays to be tried again.
    static bool IsFinished(RememberedKind kind) { return kind != RememberedKind::Interrupted; }
    // A job of this run in this state has ended: its line may be removed.
    static bool IsEnded(DownloadState state) { return state == Done || state == Failed; }

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
    std::vector<bool> removed;
    int remembered = 0;
};
