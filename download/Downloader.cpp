#include "download/Downloader.h"

#include "download/MoveIntoPlace.h"
#include "download/Mp3Converter.h"

#include <curl/curl.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace
{
const char* const kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
                               "1.0.3705; .NET CLR 1.1.4322)";
const wxString kMp3Type = "mp3";
const wxString kTempPrefix = "NK";
// Larger reads and writes than the defaults of libcurl and stdio: fewer calls per megabyte.
constexpr long kTransferBufferBytes = 512 * 1024;
constexpr size_t kFileBufferBytes = 1024 * 1024;
// The speed shown is measured over samples of about this length.
constexpr std::int64_t kSpeedSampleMs = 1000;
// Responses that send the transfer elsewhere; libcurl counts their bodies as progress.
constexpr long kFirstRedirectStatus = 300;
constexpr long kFirstStatusAfterRedirects = 400;

// What the progress callback is handed: the job, and the transfer whose response it asks about.
struct TransferContext
{
    Downloader* job;
    CURL* curl;
};

std::mutex limitsMutex;
TransferLimits transferLimits;
// Written by tests, read by start() on the GUI thread.
std::atomic<unsigned> threadStackSize{0};

// The operating-system thread of one start of a job; joinable, so the job can wait for it.
class WorkerThread : public wxThread
{
public:
    explicit WorkerThread(std::function<void()> work)
        : wxThread(wxTHREAD_JOINABLE), work(std::move(work))
    {
    }

protected:
    ExitCode Entry() override
    {
        work();
        return nullptr;
    }

private:
    std::function<void()> work;
};

TransferLimits CurrentLimits()
{
    std::lock_guard<std::mutex> guard(limitsMutex);
    return transferLimits;
}

// Opens the job's temporary file for writing from its start. mkstemp made it empty, and
// opening it with "wb" would truncate it all the same: on ext4 a file truncated to nothing
// is flushed to disk when it is closed (auto_da_alloc), which added a third of a second to
// every gigabyte. So an empty file is opened as it is; a missing one is made, and one with
// content is truncated.
FILE* OpenTempForWriting(const char* path)
{
    FILE* file = std::fopen(path, "r+b");
    if (!file)
        return std::fopen(path, "wb");
    struct stat info;
    if (fstat(fileno(file), &info) != 0 || info.st_size != 0)
    {
        std::fclose(file);
        return std::fopen(path, "wb");
    }
    return file;
}

// The job removes its temporary file on every way out but a finished move, which has
// already put it in place.
void RemoveTempFile(const wxString& path)
{
    const wxScopedCharBuffer name = path.fn_str();
    if (name.length() > 0)
        std::remove(name.data());
}
} // namespace

// The operating-system thread is made by start(): a created thread that never runs cannot be
// destroyed on this platform without hanging.
Downloader::Downloader() = default;

Downloader::~Downloader()
{
    RequestStop();
    Join();
}

bool Downloader::SetRecord(const StreamRecord& rec)
{
    wxCriticalSectionLocker guard(lock);
    if (state != Idle)
        return false;
    record = rec;
    return true;
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
    auto worker = std::make_unique<WorkerThread>([this] { Work(); });
    const bool created = worker->Create(threadStackSize.load()) == wxTHREAD_NO_ERROR;
    if (!created || worker->Run() != wxTHREAD_NO_ERROR)
    {
        {
            wxCriticalSectionLocker guard(lock);
            state = Idle;
        }
        // A thread object whose thread was made but never ran hangs in its destructor;
        // Delete() ends such a thread and frees the object itself.
        if (created)
            worker.release()->Delete();
        wxLogger(wxLOG_Message, "Downloader", __LINE__, "start", wxLOG_COMPONENT)
            .Log("%s", _("ERROR: download thread can't start!"));
        return;
    }
    thread = std::move(worker);
}

void Downloader::RequestStop()
{
    stopRequested.store(true);
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

int Downloader::OnTransferProgress(void* context, std::int64_t total, std::int64_t now,
                                   std::int64_t, std::int64_t)
{
    const auto* transfer = static_cast<TransferContext*>(context);
    Downloader* self = transfer->job;
    const std::int64_t nowMs = wxGetUTCTimeMillis().GetValue();
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    // A redirect's body is not the stream: counted, it showed a share of the wrong size, and
    // the count went back to zero when the next response began. Only the final one counts.
    const bool redirect = status >= kFirstRedirectStatus && status < kFirstStatusAfterRedirects;
    if (redirect)
    {
        now = 0;
        total = 0;
    }
    {
        wxCriticalSectionLocker guard(self->lock);
        self->progress.received = now;
        self->progress.total = total > 0 ? total : -1;
        const std::int64_t elapsedMs = nowMs - self->sampleStartMs;
        if (redirect || now < self->sampleBytes)
        {
            // Counting starts again: a new sample from here.
            self->progress.bytesPerSecond = 0;
            self->sampleBytes = now;
            self->sampleStartMs = nowMs;
        }
        else if (elapsedMs >= kSpeedSampleMs)
        {
            self->progress.bytesPerSecond =
                double(now - self->sampleBytes) * 1000.0 / double(elapsedMs);
            self->sampleBytes = now;
            self->sampleStartMs = nowMs;
        }
    }
    // Non-zero ends the transfer with CURLE_ABORTED_BY_CALLBACK.
    return self->stopRequested.load() ? 1 : 0;
}

void Downloader::Work()
{
    {
        wxCriticalSectionLocker guard(lock);
        state = Busy;
    }
    SetStatus(_("Downloading"));
    const StreamRecord rec = GetRecord();
    wxString tempPath = rec.tempPath;
    if (tempPath.empty())
        tempPath = wxFileName::CreateTempFileName(kTempPrefix);
    const wxString failure = Transfer(rec, tempPath);
    if (!failure.empty())
    {
        SetError(failure);
        RemoveTempFile(tempPath);
        return;
    }
    FinishJob(rec, tempPath);
}

// Fetches the stream into tempPath; the empty text on success, else the status text to end with.
wxString Downloader::Transfer(const StreamRecord& rec, const wxString& tempPath)
{
    CURL* curl = curl_easy_init();
    if (!curl)
        return _("Error: unable to init CURL!");

    // A path the locale cannot represent converts to nothing, and opening nothing fails.
    const wxScopedCharBuffer narrowTemp = tempPath.mb_str(wxConvLibc);
    FILE* file = narrowTemp.length() > 0 ? OpenTempForWriting(narrowTemp.data()) : nullptr;
    if (!file)
    {
        curl_easy_cleanup(curl);
        return _("Error: can't create tmp file!");
    }
    std::setvbuf(file, nullptr, _IOFBF, kFileBufferBytes);

    wxString url = rec.url;
    url.Trim(false);
    const wxScopedCharBuffer narrowUrl = url.mb_str(wxConvLibc);
    const TransferLimits limits = CurrentLimits();
    {
        wxCriticalSectionLocker guard(lock);
        progress = DownloadProgress();
        progress.transferring = true;
    }
    sampleBytes = 0;
    sampleStartMs = wxGetUTCTimeMillis().GetValue();

    curl_easy_setopt(curl, CURLOPT_URL, narrowUrl.length() > 0 ? narrowUrl.data() : "");
    // Certificates and host names are verified (libcurl's defaults, left on): an unverified
    // connection would let anyone on the path replace the file.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, file);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    // Signals cannot be used for time-outs in a thread.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // An error page is not the stream: 400 and above fail the transfer.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferBufferBytes);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Downloader::OnTransferProgress);
    TransferContext context{this, curl};
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &context);

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    {
        wxCriticalSectionLocker guard(lock);
        progress.transferring = false;
    }
    // Buffered data reaches the disk at the close, so a full disk may show up only here.
    const bool closed = std::fclose(file) == 0;
    if (code != CURLE_OK)
        return wxString::Format(_("Error: %s"), wxString(curl_easy_strerror(code), wxConvLibc));
    if (!closed)
        return wxString::Format(_("Error: %s"), wxString(std::strerror(errno), wxConvLibc));
    return wxString();
}

void Downloader::FinishJob(const StreamRecord& rec, const wxString& tempPath)
{
    if (rec.type == kMp3Type)
    {
        SetStatus(_("Converting to MP3"));
        const bool converted = ConvertToMp3(tempPath, rec.outputPath);
        RemoveTempFile(tempPath);
        if (!converted)
        {
            SetError(_("Error: conversion to MP3 failed!"));
            return;
        }
    }
    else
    {
        SetStatus(_("Finishing"));
        wxString reason;
        if (!MoveIntoPlace(tempPath, rec.outputPath, reason))
        {
            RemoveTempFile(tempPath);
            SetError(wxString::Format(_("Error: can't save the file: %s"), reason));
            return;
        }
    }
    SetStatus(_("Done"));
    wxCriticalSectionLocker guard(lock);
    state = Done;
}
