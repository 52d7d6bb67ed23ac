#pragma once

#include "lookup/StreamRecord.h"

#include <wx/thread.h>

#include <atomic>
#include <cstdint>
#include <memory>

enum DownloadState : std::int32_t
{
    Idle = 0,
    Busy = 1,
    Done = 2,
    Failed = 3,
};

// How far a transfer has come, for the downloads list.
struct DownloadProgress
{
    bool transferring = false;
    std::int64_t received = 0;
    std::int64_t total = -1; // -1 while the size is unknown
    double bytesPerSecond = 0;
};

// Limits that end a stalled transfer. Tests shorten them.
struct TransferLimits
{
    long connectTimeoutSeconds = 30;
    long lowSpeedBytesPerSecond = 1;
    long lowSpeedSeconds = 60;
};

// One download: a worker thread with its own copy of a stream record, a state and the lock
// that guards both. Used once; the GUI thread polls it.
class Downloader
{
public:
    Downloader();
    ~Downloader();

    // Copies the record in while the job is Idle; false otherwise.
    bool SetRecord(const StreamRecord& rec);
    StreamRecord GetRecord();
    DownloadState GetState();
    DownloadProgress GetProgress();
    void SetStatus(const wxString& text);
    // Failed and its text in one step, so no reader sees one without the other.
    void SetError(const wxString& text);

    // Marks the job Busy, then creates and runs its thread.
    void start();

    // Asks a running transfer to end; it stops within about a second.
    void RequestStop();
    // Waits for the worker to end; does nothing for a job that never started.
    void Join();

    static void SetTransferLimits(const TransferLimits& limits);
    // Stack size of the worker threads started from now on; 0 is the system's default. Tests
    // ask for one the process cannot have, to see a thread fail to start.
    static void SetThreadStackSize(unsigned bytes);

private:
    // The worker thread's whole work.
    void Work();
    static int OnTransferProgress(void* context, std::int64_t total, std::int64_t now, std::int64_t,
                                  std::int64_t);
    wxString Transfer(const StreamRecord& rec, const wxString& tempPath);
    void FinishJob(const StreamRecord& rec, const wxString& tempPath);

    // Guards record, state and progress: the worker writes them, the GUI thread reads them.
    wxCriticalSection lock;
    StreamRecord record;
    DownloadState state = Idle;
    DownloadProgress progress;
    // Start of the current speed sample, the worker's own (read only in its callback).
    std::int64_t sampleBytes = 0;
    std::int64_t sampleStartMs = 0;

    // Set by the GUI thread to end the transfer, read by the worker's progress callback.
    std::atomic<bool> stopRequested{false};
    // GUI thread only: the running or ended worker thread, to wait for. Made anew by each
    // start, since a thread object whose start failed can never start again.
    std::unique_ptr<wxThread> thread;
};
