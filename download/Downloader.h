#pragma once

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

// What a stopped job does with the bytes it received: a quit wants nothing left behind, a
// cancel may keep them for a later try.
enum class StopMode
{
    DiscardAll,
    KeepReceived,
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
    // goes too unless mode keeps it (its path is then in the record's tempPath).
    void RequestStop(StopMode mode = StopMode::DiscardAll);
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

    // Guards record, state and progress: the worker writes them, the GUI thread reads them.
    wxCriticalSection lock;
    StreamRecord record;
    // The output path the record came with, before the finished file took a free name.
    wxString proposedPath;
    DownloadState state = Idle;
    DownloadProgress progress;
    bool cancelled = false;

    // Set by the GUI thread to end the transfer, read by the worker.
    std::atomic<bool> stopRequested{false};
    // Set with stopRequested: whether the stopped job keeps its bytes (a Cancel) or not (a quit).
    std::atomic<bool> keepReceived{false};
    // Set by the GUI thread before a run, read by the worker as the run begins.
    std::atomic<std::int64_t> speedLimit{0};
    // The worker's own while it runs; the GUI thread touches it only between runs. What it
    // keeps between runs lets a retry continue from the bytes received.
    StreamTransfer transfer;
    // GUI thread only: the worker of the current or last run, to wait for.
    std::unique_ptr<JobThread> thread;
};
