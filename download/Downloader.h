#pragma once

#include "download/DownloadJournal.h"
#include "download/DownloadProgress.h"
#include "download/DownloadState.h"
#include "download/StreamTransfer.h"
#include "download/TransferLimits.h"
#include "lookup/StreamRecord.h"

#include <wx/thread.h>

#include <atomic>
#include <cstdint>
#include <memory>

class JobThread;

// What a stopped job does with the bytes it received: a cancel keeps them for a later try; the
// end of the run keeps them for the next run when the journal remembers the download, and
// otherwise leaves nothing behind; a discard never keeps them.
enum class StopMode
{
    DiscardAll,
    KeepReceived,
    EndOfRun,
};

// One download: a worker thread with its own copy of a stream record, a state and the lock
// that guards both. Started once, and tried again as often as the user asks when it failed
// or was cancelled; the GUI thread polls it.
class Downloader
{
public:
    Downloader();
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Copies the record in while the job is Idle; false otherwise.
    bool SetRecord(const StreamRecord& rec);
    // Whether the job was given this record: the same stream and format, proposed for the
    // same path. The record's path itself is the name the file took, which may be another.
    bool IsOfRecord(const StreamRecord& rec);
    StreamRecord GetRecord();
    DownloadState GetState();
    DownloadProgress GetProgress();
    void SetStatus(const wxString& text);
    // Failed and its text in one step, so no reader sees one without the other.
    void SetError(const wxString& text);

    // Marks the job Busy, then creates and runs its thread.
    void start();

    // Asks the job to end in whatever phase it is (name lookup, connect, transfer, conversion,
    // copy); it stops within about a second. No partial output is left; the temporary file
    // goes too unless mode keeps it (its path is then in the record's tempPath). Ended by the
    // end of the run, a remembered download stays Running in the journal: interrupted.
    void RequestStop(StopMode mode = StopMode::EndOfRun);
    // The user's stop: the job ends Failed with the status "Cancelled" and keeps the bytes
    // received so far for a retry.
    void Cancel();
    // Runs a failed or cancelled job again on the same record, continuing from the bytes
    // already received where the server allows it. False when the job had not ended so.
    bool Retry();
    // Whether the job's last end was the user's Cancel.
    bool WasCancelled();
    // Waits for the worker to end; does nothing for a job that never started.
    void Join();

    // The cap on this job's receiving speed for its next run (a start or a retry), in bytes
    // per second; 0 for none.
    void SetSpeedLimit(std::int64_t bytesPerSecond) { speedLimit.store(bytesPerSecond); }

    // From its next run on, the job keeps the journal's record of it (entry.id, written by the
    // caller) up to date from its worker: each start with its partial file, which is the
    // journal's from then on; the validator of a new body before its first byte; the bytes now
    // and then; the end. A null journal, or an id of 0, ends that. Not while the job runs.
    void Remember(DownloadJournal* journal, const JournalEntry& entry);
    // The journal's id of the job; 0 when it is not remembered.
    std::int64_t JournalId();
    // Whether the record's temporary file is named by the journal, which then decides when it
    // goes.
    bool JournalHoldsTempFile();
    // Continues, at the next run, from bytes an earlier run of the program left in the record's
    // temporary file and their validator. Not while the job runs.
    void ResumeFrom(std::int64_t keptBytes, const std::string& validator);

    static void SetTransferLimits(const TransferLimits& limits);
    // Stack size of the worker threads started from now on; 0 is the system's default. Tests
    // ask for one the process cannot have, to see a thread fail to start.
    static void SetThreadStackSize(unsigned bytes);

private:
    // The worker body, run on the job's own thread.
    void Entry();
    // Creates and runs the worker thread; the job is Busy already.
    bool RunThread();
    // Puts the whole download in place; false when the job ended otherwise.
    bool FinishJob(const StreamRecord& rec, const wxString& tempPath);
    // Ends a stopped job: "Cancelled", its bytes kept or not as the stop asked.
    void EndCancelled(const wxString& tempPath);
    // Removes the temporary file on a way out, unless a stop asked to keep what was received.
    void DropTempFile(const wxString& tempPath);
    // Whether a stop in this mode keeps the bytes received.
    bool StopKeeps(StopMode mode);
    // Writes the job's state into its journal record, on the worker's thread; received is the
    // count to record, or -1 for the progress's. False when nothing was written.
    bool WriteJournal(JournalState state, std::int64_t received = -1);
    // Failed with its text, in the job and the journal.
    void EndFailed(const wxString& text);
    // The worker's first write of a run: the record with its partial file, which the journal
    // holds from then on.
    void JournalStart(const wxString& tempPath);
    // Called with every progress report on the worker's thread: the bytes now and then.
    void JournalProgress();

    // Guards record, state and progress: the worker writes them, the GUI thread reads them.
    wxCriticalSection lock;
    StreamRecord record;
    // The output path the record came with, before the finished file took a free name.
    wxString proposedPath;
    DownloadState state = Idle;
    DownloadProgress progress;
    bool cancelled = false;
    // The journal and the job's record in it; set by the GUI thread between runs.
    DownloadJournal* journal = nullptr;
    JournalEntry journalEntry;
    bool journalHoldsFile = false;

    // Set by the GUI thread to end the transfer, read by the worker.
    std::atomic<bool> stopRequested{false};
    // Set with stopRequested, read by the worker: what the stopped job does with its bytes.
    std::atomic<StopMode> stopMode{StopMode::DiscardAll};
    // Set by the GUI thread before a run, read by the worker as the run begins.
    std::atomic<std::int64_t> speedLimit{0};
    // The worker's own while it runs; the GUI thread touches it only between runs. What it
    // keeps between runs lets a retry continue from the bytes received.
    StreamTransfer transfer;
    // The worker's own: when it last wrote the bytes received into the journal.
    std::int64_t journalWrittenMs = 0;
    // GUI thread only: the worker of the current or last run, to wait for.
    std::unique_ptr<JobThread> thread;
};
