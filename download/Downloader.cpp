#include "download/Downloader.h"

#include "download/FinishDownload.h"
#include "download/JobThread.h"
#include "download/TempFileRegistry.h"

#include <wx/intl.h>
#include <wx/log.h>

#include <mutex>
#include <utility>

namespace
{
std::mutex limitsMutex;
TransferLimits transferLimits;
// Written by tests, read by start() on the GUI thread.
std::atomic<unsigned> threadStackSize{0};

TransferLimits CurrentLimits()
{
    std::lock_guard<std::mutex> guard(limitsMutex);
    return transferLimits;
}

// A job's temporary file goes when the job is done with it: after a finished move has put
// it in place or a conversion has used it, and when the job itself goes. A failed or
// cancelled job keeps it until then for a retry.
void RemoveTempFile(const wxString& path)
{
    TempFileRegistry::Remove(path);
}
} // namespace

Downloader::Downloader()
    : transfer(stopRequested,
               [this](const DownloadProgress& now)
               {
                   wxCriticalSectionLocker guard(lock);
                   progress = now;
               })
{
}

Downloader::~Downloader()
{
    RequestStop();
    Join();
    if (GetState() != Done)
        RemoveTempFile(GetRecord().tempPath);
}

bool Downloader::SetRecord(const StreamRecord& rec)
{
    wxCriticalSectionLocker guard(lock);
    if (state != Idle)
        return false;
    record = rec;
    proposedPath = rec.outputPath;
    return true;
}

bool Downloader::IsOfRecord(const StreamRecord& rec)
{
    wxCriticalSectionLocker guard(lock);
    return proposedPath == rec.outputPath && record.url == rec.url && record.type == rec.type &&
           record.itag == rec.itag;
}

StreamRecord Downloader::GetRecord()
{
    wxCriticalSectionLocker guard(lock);
    return record;
}

DownloadState Downloader::GetState()
{
    wxCriticalSectionLocker guard(lock);
    return state;
}

DownloadProgress Downloader::GetProgress()
{
    wxCriticalSectionLocker guard(lock);
    return progress;
}

void Downloader::SetStatus(const wxString& text)
{
    wxCriticalSectionLocker guard(lock);
    record.statusText = text;
}

void Downloader::SetError(const wxString& text)
{
    wxCriticalSectionLocker guard(lock);
    state = Failed;
    record.statusText = text;
    progress.transferring = false;
}

void Downloader::start()
{
    {
        // Busy before the thread exists, so a second Download in between picks the next job.
        wxCriticalSectionLocker guard(lock);
        if (state != Idle)
            return;
        state = Busy;
    }
    if (!RunThread())
    {
        {
            wxCriticalSectionLocker guard(lock);
            state = Idle;
        }
        wxLogger(wxLOG_Message, "Downloader", __LINE__, "start", wxLOG_COMPONENT)
            .Log("%s", _("ERROR: download thread can't start!"));
    }
}

bool Downloader::Retry()
{
    {
        wxCriticalSectionLocker guard(lock);
        if (state != Failed)
            return false;
    }
    // The last run has set its end; its thread is at most returning.
    Join();
    stopRequested.store(false);
    {
        wxCriticalSectionLocker guard(lock);
        state = Busy;
        cancelled = false;
        record.statusText = _("Downloading");
    }
    if (RunThread())
        return true;
    SetError(_("ERROR: download thread can't start!"));
    return false;
}

bool Downloader::RunThread()
{
    auto worker = std::make_unique<JobThread>([this] { Entry(); });
    const bool created = worker->Create(threadStackSize.load()) == wxTHREAD_NO_ERROR;
    if (!created || worker->Run() != wxTHREAD_NO_ERROR)
    {
        // A created thread that never ran cannot simply be destroyed: its system thread still
        // waits inside the object for the start. Delete() wakes it to end without running, and
        // on this platform it frees the object itself on the way out, joinable or not. One
        // that was never created is simply freed.
        if (created)
            worker.release()->Delete();
        return false;
    }
    thread = std::move(worker);
    return true;
}

void Downloader::RequestStop(StopMode mode)
{
    // The mode is in place before the flag the worker reads; a later DiscardAll (a quit after
    // a cancel) still takes the bytes away.
    keepReceived.store(mode == StopMode::KeepReceived);
    stopRequested.store(true);
}

void Downloader::Cancel()
{
    RequestStop(StopMode::KeepReceived);
}

bool Downloader::WasCancelled()
{
    wxCriticalSectionLocker guard(lock);
    return cancelled;
}

void Downloader::DropTempFile(const wxString& tempPath)
{
    if (stopRequested.load() && keepReceived.load())
        return;
    RemoveTempFile(tempPath);
}

void Downloader::Join()
{
    if (!thread)
        return;
    thread->Wait();
    thread.reset();
}

void Downloader::SetTransferLimits(const TransferLimits& limits)
{
    std::lock_guard<std::mutex> guard(limitsMutex);
    transferLimits = limits;
}

void Downloader::SetThreadStackSize(unsigned bytes)
{
    threadStackSize.store(bytes);
}

void Downloader::EndCancelled(const wxString& tempPath)
{
    DropTempFile(tempPath);
    if (!keepReceived.load())
        transfer.Forget();
    wxCriticalSectionLocker guard(lock);
    state = Failed;
    cancelled = keepReceived.load();
    record.statusText = _("Cancelled");
    progress.transferring = false;
}

void Downloader::Entry()
{
    {
        wxCriticalSectionLocker guard(lock);
        state = Busy;
    }
    SetStatus(_("Downloading"));
    StreamRecord rec = GetRecord();
    if (rec.tempPath.empty())
    {
        rec.tempPath = TempFileRegistry::CreateTempFile(TempFileRegistry::kTempNamePrefix);
        // Kept in the job, so a retry continues in the same file and the job's end removes it.
        wxCriticalSectionLocker guard(lock);
        record.tempPath = rec.tempPath;
    }
    TransferLimits limits = CurrentLimits();
    limits.maxReceiveBytesPerSecond = speedLimit.load();
    const TransferResult result = transfer.Run(rec.url, rec.tempPath, limits);
    // A stop that came as the body completed still ends the job as the user asked.
    if (stopRequested.load())
    {
        EndCancelled(rec.tempPath);
        return;
    }
    if (!result.IsComplete())
    {
        SetError(result.error);
        return;
    }
    if (!FinishJob(rec, rec.tempPath))
        return;
    SetStatus(_("Done"));
    wxCriticalSectionLocker guard(lock);
    state = Done;
}

bool Downloader::FinishJob(const StreamRecord& rec, const wxString& tempPath)
{
    const FinishResult finish = FinishDownload(rec, tempPath, stopRequested,
                                               [this](const wxString& text) { SetStatus(text); });
    switch (finish.outcome)
    {
    case FinishOutcome::Placed:
        break;
    case FinishOutcome::Stopped:
        EndCancelled(tempPath);
        return false;
    case FinishOutcome::ConversionFailed:
        // Maybe the download was damaged: a retry fetches it afresh.
        transfer.Forget();
        SetError(finish.error);
        return false;
    case FinishOutcome::SaveFailed:
        SetError(finish.error);
        return false;
    }
    // The name was free only when the file went there, so it may differ from the proposed one;
    // the line, Open and Show in folder go by this one.
    wxCriticalSectionLocker guard(lock);
    record.outputPath = finish.placed;
    return true;
}
