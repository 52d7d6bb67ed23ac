#include "download/Downloader.h"

#include "download/FileIdentity.h"
#include "download/FinishDownload.h"
#include "download/JobThread.h"
#include "download/NarrowPath.h"
#include "download/TempFileRegistry.h"

#include <wx/intl.h>
#include <wx/log.h>
#include <wx/time.h>

#include <mutex>
#include <unistd.h>
#include <utility>

namespace
{
std::mutex limitsMutex;
TransferLimits transferLimits;
// Written by tests, read by start() on the GUI thread.
std::atomic<unsigned> threadStackSize{0};
// The bytes received go into the journal about this often: each write waits for the disk,
// and a few seconds' bytes more or less only change where a later run continues.
constexpr std::int64_t kJournalProgressMs = 2000;

void EmptyFile(const wxString& path)
{
    const std::string narrow = NarrowPath(path);
    if (!narrow.empty() && truncate(narrow.c_str(), 0) != 0)
    {
        // A file that cannot be emptied is gone or not ours to write: nothing to continue.
    }
}

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
                   {
                       wxCriticalSectionLocker guard(lock);
                       progress = now;
                   }
                   JournalProgress();
               })
{
    // A new whole body replaces what the file held: the journal must not name the bytes of
    // the old one with the new validator, nor the new bytes with the old one.
    transfer.SetNewBodyCallback([this] { WriteJournal(JournalState::Running, 0); });
}

Downloader::~Downloader()
{
    RequestStop();
    Join();
    if (GetState() != Done && !JournalHoldsTempFile())
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
    // The mode is in place before the flag the worker reads; a later quit after a cancel
    // decides again what the bytes become.
    stopMode.store(mode);
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

bool Downloader::StopKeeps(StopMode mode)
{
    switch (mode)
    {
    case StopMode::KeepReceived:
        return true;
    case StopMode::EndOfRun:
        return JournalHoldsTempFile();
    case StopMode::DiscardAll:
        break;
    }
    return false;
}

void Downloader::DropTempFile(const wxString& tempPath)
{
    if (stopRequested.load() && StopKeeps(stopMode.load()))
        return;
    RemoveTempFile(tempPath);
    wxCriticalSectionLocker guard(lock);
    journalHoldsFile = false;
}

void Downloader::Remember(DownloadJournal* to, const JournalEntry& entry)
{
    const bool held = to && entry.id != 0 && !entry.tempPath.empty();
    {
        wxCriticalSectionLocker guard(lock);
        journal = entry.id != 0 ? to : nullptr;
        journalEntry = entry;
        journalHoldsFile = held;
    }
    // The run's own clean-up would take it away at the end: it is the journal's now.
    if (held)
        TempFileRegistry::Forget(entry.tempPath);
}

std::int64_t Downloader::JournalId()
{
    wxCriticalSectionLocker guard(lock);
    return journal ? journalEntry.id : 0;
}

bool Downloader::JournalHoldsTempFile()
{
    wxCriticalSectionLocker guard(lock);
    return journal && journalHoldsFile;
}

void Downloader::ResumeFrom(std::int64_t keptBytes, const std::string& validator)
{
    transfer.Restore(keptBytes, validator);
}

bool Downloader::WriteJournal(JournalState journalState, std::int64_t received)
{
    DownloadJournal* target = nullptr;
    JournalEntry entry;
    {
        wxCriticalSectionLocker guard(lock);
        target = journal;
        entry = journalEntry;
        entry.state = journalState;
        entry.outputPath = record.outputPath;
        entry.statusText = record.statusText;
        entry.received = received >= 0 ? received : progress.received;
        // A finished download has no partial file any more.
        entry.tempPath = journalState == JournalState::Done ? wxString() : record.tempPath;
    }
    if (!target)
        return false;
    // The transfer is the worker's own while it runs, and this runs on the worker.
    entry.validator = wxString::FromUTF8(transfer.Validator());
    journalWrittenMs = wxGetUTCTimeMillis().GetValue();
    if (!target->Update(entry))
        return false;
    wxCriticalSectionLocker guard(lock);
    journalEntry = entry;
    return true;
}

void Downloader::JournalStart(const wxString& tempPath)
{
    {
        wxCriticalSectionLocker guard(lock);
        if (!journal)
            return;
        journalEntry.fileId = FileIdentity(tempPath);
    }
    if (!WriteJournal(JournalState::Running, transfer.KeptBytes()))
        return;
    TempFileRegistry::Forget(tempPath);
    wxCriticalSectionLocker guard(lock);
    journalHoldsFile = true;
}

void Downloader::JournalProgress()
{
    if (wxGetUTCTimeMillis().GetValue() - journalWrittenMs < kJournalProgressMs)
        return;
    {
        wxCriticalSectionLocker guard(lock);
        if (!journal || !progress.transferring)
            return;
    }
    WriteJournal(JournalState::Running);
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
    const StopMode mode = stopMode.load();
    const bool keeps = StopKeeps(mode);
    DropTempFile(tempPath);
    if (!keeps)
        transfer.Forget();
    {
        wxCriticalSectionLocker guard(lock);
        state = Failed;
        cancelled = mode == StopMode::KeepReceived;
        record.statusText = _("Cancelled");
        progress.transferring = false;
    }
    // Ended by the end of the run, the download is interrupted, not cancelled: the next run
    // offers to go on with it.
    WriteJournal(mode == StopMode::EndOfRun && keeps ? JournalState::Running
                                                     : JournalState::Cancelled,
                 transfer.KeptBytes());
}

void Downloader::EndFailed(const wxString& text)
{
    SetError(text);
    WriteJournal(JournalState::Failed, transfer.KeptBytes());
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
    JournalStart(rec.tempPath);
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
        EndFailed(result.error);
        return;
    }
    if (!FinishJob(rec, rec.tempPath))
        return;
    SetStatus(_("Done"));
    {
        wxCriticalSectionLocker guard(lock);
        journalHoldsFile = false;
    }
    // Recorded before the window can show it done: a kill after that loses no finished file.
    WriteJournal(JournalState::Done);
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
        // Maybe the download was damaged: a retry fetches it afresh, in this run or, as the
        // file is emptied, in a later one.
        transfer.Forget();
        EmptyFile(tempPath);
        EndFailed(finish.error);
        return false;
    case FinishOutcome::SaveFailed:
        EndFailed(finish.error);
        return false;
    }
    // The name was free only when the file went there, so it may differ from the proposed one;
    // the line, Open and Show in folder go by this one.
    wxCriticalSectionLocker guard(lock);
    record.outputPath = finish.placed;
    return true;
}
