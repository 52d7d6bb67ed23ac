#include "download/Downloader.h"

#include "download/HttpStatusText.h"
#include "download/JobThread.h"
#include "download/MoveIntoPlace.h"
#include "download/Mp3Converter.h"
#include "download/TempFileRegistry.h"

#include <curl/curl.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/time.h>
#include <wx/utils.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{
const char* const kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
                               "1.0.3705; .NET CLR 1.1.4322)";
const wxString kMp3Type = "mp3";
// A record's address may name any scheme libcurl knows; gopher or telnet would let a reply
// make the program write to any port it can reach. Redirects are held to the same.
const char* const kAllowedProtocols = "http,https";
// Larger reads and writes than the defaults of libcurl and stdio: fewer calls per megabyte.
constexpr long kTransferBufferBytes = 512 * 1024;
constexpr size_t kFileBufferBytes = 1024 * 1024;
// The speed shown is measured over samples of about this length.
constexpr std::int64_t kSpeedSampleMs = 1000;
// Responses that send the transfer elsewhere; libcurl counts their bodies as progress.
constexpr long kFirstRedirectStatus = 300;
constexpr long kFirstStatusAfterRedirects = 400;
// The detail of a reply that ended well without the file, such as a redirect to nowhere.
// Untranslated, like the texts of libcurl that the same status shows for other failures.
const char* const kReplyWithoutFile = "HTTP %d reply without the file";

std::mutex limitsMutex;
TransferLimits transferLimits;
// Written by tests, read by start() on the GUI thread.
std::atomic<unsigned> threadStackSize{0};

TransferLimits CurrentLimits()
{
    std::lock_guard<std::mutex> guard(limitsMutex);
    return transferLimits;
}

// The pause before a resume is slept in steps this long, so a Cancel is seen within one.
constexpr long kPauseStepMs = 50;

// Opens the job's temporary file for writing without truncating it: the bytes of an earlier
// run may be continued, and the body's first write decides (see OnBody). Truncating an empty
// file would cost time as well: on ext4 a file truncated to nothing is flushed to disk when
// it is closed (auto_da_alloc), which added a third of a second to every gigabyte. A missing
// file is made.
FILE* OpenTempForWriting(const char* path)
{
    FILE* file = std::fopen(path, "r+b");
    return file ? file : std::fopen(path, "wb");
}

// Cuts the file to its first bytes and puts the write position there. A file that is no
// longer is left alone (see OpenTempForWriting).
bool KeepFirstBytes(FILE* file, std::int64_t bytes)
{
    struct stat info;
    if (std::fflush(file) != 0 || fstat(fileno(file), &info) != 0)
        return false;
    if (info.st_size > bytes && ftruncate(fileno(file), off_t(bytes)) != 0)
        return false;
    return fseeko(file, off_t(bytes), SEEK_SET) == 0;
}

std::int64_t FileSize(const wxString& path)
{
    struct stat info;
    const wxScopedCharBuffer name = path.mb_str(wxConvLibc);
    if (name.length() == 0 || stat(name.data(), &info) != 0)
        return 0;
    return std::int64_t(info.st_size);
}

// A job's temporary file goes when the job is done with it: after a finished move has put
// it in place or a conversion has used it, and when the job itself goes. A failed or
// cancelled job keeps it until then for a retry.
void RemoveTempFile(const wxString& path)
{
    TempFileRegistry::Remove(path);
}
} // namespace

Downloader::Downloader() = default;

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

int Downloader::OnTransferProgress(void* job, std::int64_t total, std::int64_t now, std::int64_t,
                                   std::int64_t)
{
    auto* self = static_cast<Downloader*>(job);
    const std::int64_t nowMs = wxGetUTCTimeMillis().GetValue();
    const int status = self->resume.ResponseStatus();
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
        self->progress.received = self->progressBase + now;
        self->progress.total = total > 0 ? self->progressBase + total : -1;
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

size_t Downloader::OnHeader(char* data, size_t size, size_t count, void* job)
{
    auto* self = static_cast<Downloader*>(job);
    self->resume.OnHeaderLine(std::string(data, size * count));
    return size * count;
}

size_t Downloader::OnBody(char* data, size_t size, size_t count, void* job)
{
    auto* self = static_cast<Downloader*>(job);
    if (!self->bodyStarted)
    {
        self->bodyStarted = true;
        const std::int64_t kept = self->resume.KeptBytes();
        switch (self->resume.StartBody())
        {
        case TransferResume::BodyStart::Append:
            self->progressBase = kept;
            if (!KeepFirstBytes(self->transferFile, kept))
                return 0;
            break;
        case TransferResume::BodyStart::FromZero:
            self->progressBase = 0;
            if (!KeepFirstBytes(self->transferFile, 0))
                return 0;
            break;
        case TransferResume::BodyStart::Unusable:
            self->bodyUnusable = true;
            return 0;
        }
    }
    // Fewer bytes than given end the transfer with a write error.
    return std::fwrite(data, size, count, self->transferFile) * size;
}

void Downloader::EndCancelled(const wxString& tempPath)
{
    DropTempFile(tempPath);
    if (!keepReceived.load())
        resume.Reset();
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
    if (!resume.IsComplete())
    {
        const wxString failure = TransferWithResumes(rec, rec.tempPath);
        if (stopRequested.load())
        {
            EndCancelled(rec.tempPath);
            return;
        }
        if (!failure.empty())
        {
            SetError(failure);
            return;
        }
    }
    if (!FinishJob(rec, rec.tempPath))
        return;
    SetStatus(_("Done"));
    wxCriticalSectionLocker guard(lock);
    state = Done;
}

wxString Downloader::TransferWithResumes(const StreamRecord& rec, const wxString& tempPath)
{
    const std::vector<long> pauses = CurrentLimits().resumePausesMs;
    for (size_t resumes = 0;; ++resumes)
    {
        int code = CURLE_OK;
        const wxString failure = Transfer(rec, tempPath, code);
        if (failure.empty())
        {
            resume.SetComplete(true);
            return failure;
        }
        if (stopRequested.load())
            return failure;
        // A part that did not fit what is kept is no reason to give up: the next request
        // asks for the whole file.
        if (bodyUnusable)
            resume.Reset();
        else if (!TransferResume::IsConnectionCut(code))
            return failure;
        if (resumes >= pauses.size() || !PauseBeforeResume(pauses[resumes]))
            return failure;
    }
}

bool Downloader::PauseBeforeResume(long pauseMs)
{
    const wxLongLong until = wxGetLocalTimeMillis() + pauseMs;
    while (wxGetLocalTimeMillis() < until)
    {
        if (stopRequested.load())
            return false;
        wxMilliSleep(kPauseStepMs);
    }
    return !stopRequested.load();
}

// Fetches the stream into tempPath; the empty text on success, else the status text to end with.
wxString Downloader::Transfer(const StreamRecord& rec, const wxString& tempPath, int& code)
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
    // What an earlier run left is kept only when the file still holds all of it.
    resume.SetKeptBytes(std::min(resume.KeptBytes(), FileSize(tempPath)));

    wxString url = rec.url;
    url.Trim(false);
    const wxScopedCharBuffer narrowUrl = url.mb_str(wxConvLibc);
    const TransferLimits limits = CurrentLimits();
    {
        wxCriticalSectionLocker guard(lock);
        progress = DownloadProgress();
        progress.transferring = true;
        progress.received = resume.KeptBytes();
    }
    sampleBytes = 0;
    sampleStartMs = wxGetUTCTimeMillis().GetValue();
    transferFile = file;
    bodyStarted = false;
    bodyUnusable = false;
    progressBase = resume.KeptBytes();
    // The status the last request ended with is no redirect of this one.
    resume.ForgetResponse();
    curl_slist* headers = nullptr;
    for (const std::string& line : resume.RequestHeaders())
        headers = curl_slist_append(headers, line.c_str());

    curl_easy_setopt(curl, CURLOPT_URL, narrowUrl.length() > 0 ? narrowUrl.data() : "");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    // Certificates and host names are verified (libcurl's defaults, left on): an unverified
    // connection would let anyone on the path replace the file.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Downloader::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Downloader::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
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
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A stop during a name lookup that never answers: without this the cleanup below waits
    // for the resolver's thread, seconds or for ever; with it that thread is left to itself.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
#endif

    const CURLcode result = curl_easy_perform(curl);
    code = result;
    // libcurl's own text for it, "HTTP response code said error", tells the user nothing.
    long errorStatus = 0;
    if (result == CURLE_HTTP_RETURNED_ERROR)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &errorStatus);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    // An empty body calls no write, yet a whole empty file replaces what was kept. An empty
    // reply that is not the whole file (a final redirect, a part with nothing in it) fits what
    // is kept no better than a part that starts elsewhere, and is treated the same.
    int fileError = 0;
    if (result == CURLE_OK && !bodyStarted)
    {
        bodyStarted = true;
        if (resume.StartBody() != TransferResume::BodyStart::FromZero)
            bodyUnusable = true;
        else if (!KeepFirstBytes(file, 0))
            fileError = errno;
    }
    {
        wxCriticalSectionLocker guard(lock);
        progress.transferring = false;
    }
    // Buffered data reaches the disk at the close, so a full disk may show up only here.
    const bool closed = std::fclose(file) == 0;
    if (!closed && fileError == 0)
        fileError = errno;
    transferFile = nullptr;
    // What reached the file is what a resume continues from; a response cut before its body
    // changed nothing.
    if (bodyStarted && !bodyUnusable)
        resume.SetKeptBytes(closed ? FileSize(tempPath) : 0);
    if (errorStatus > 0)
        return wxString::Format(_("Error: %s"), HttpStatusText(errorStatus));
    if (result != CURLE_OK)
        return wxString::Format(_("Error: %s"), wxString(curl_easy_strerror(result), wxConvLibc));
    if (bodyUnusable)
        return wxString::Format(_("Error: %s"),
                                wxString::Format(kReplyWithoutFile, resume.ResponseStatus()));
    if (!closed || fileError != 0)
        return wxString::Format(_("Error: %s"), wxString(std::strerror(fileError), wxConvLibc));
    return wxString();
}

bool Downloader::FinishJob(const StreamRecord& rec, const wxString& tempPath)
{
    // The extension the lookup named the file with; a record without one keeps its path's.
    const OutputNames names = rec.extension.empty()
                                  ? OutputNames(rec.outputPath)
                                  : OutputNames(rec.outputPath, rec.title, rec.extension);
    wxString placed;
    if (rec.type == kMp3Type)
    {
        SetStatus(_("Converting to MP3"));
        const bool converted = ConvertToMp3(tempPath, names, &stopRequested, &placed);
        if (!converted && stopRequested.load())
        {
            // The download itself is whole: a retry converts it again.
            EndCancelled(tempPath);
            return false;
        }
        if (!converted)
        {
            // Maybe the download was damaged: a retry fetches it afresh.
            resume.Reset();
            SetError(_("Error: conversion to MP3 failed!"));
            return false;
        }
        RemoveTempFile(tempPath);
    }
    else
    {
        SetStatus(_("Finishing"));
        wxString reason;
        if (!MoveIntoPlace(tempPath, names, reason, &stopRequested, &placed))
        {
            if (stopRequested.load())
            {
                EndCancelled(tempPath);
                return false;
            }
            SetError(wxString::Format(_("Error: can't save the file: %s"), reason));
            return false;
        }
    }
    // The name was free only when the file went there, so it may differ from the proposed one;
    // the line, Open and Show in folder go by this one.
    wxCriticalSectionLocker guard(lock);
    record.outputPath = placed;
    return true;
}
