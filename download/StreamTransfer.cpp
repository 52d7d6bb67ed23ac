#include "download/StreamTransfer.h"

#include "config/SystemErrorText.h"
#include "download/HttpStatusText.h"

#include <curl/curl.h>
#include <wx/intl.h>
#include <wx/time.h>
#include <wx/utils.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{
const char* const kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
                               "1.0.3705; .NET CLR 1.1.4322)";
// A record's address may name any scheme libcurl knows; gopher or telnet would let a reply
// make the program write to any port it can reach. Redirects are held to the same.
const char* const kAllowedProtocols = "http,https";
// Larger reads and writes than the defaults of libcurl and stdio: fewer calls per megabyte.
constexpr long kTransferBufferBytes = 512L * 1024;
constexpr size_t kFileBufferBytes = size_t{1024} * 1024;
// Under a speed limit a read holds a small slice of a second, so the pace (see OnBody) waits
// in small steps and the progress shown moves evenly.
constexpr curl_off_t kLimitSlicesPerSecond = 16;
constexpr curl_off_t kLeastLimitedBufferBytes = 1024;
// The speed shown is measured over samples of about this length.
constexpr std::int64_t kSpeedSampleMs = 1000;
constexpr double kMsPerSecond = 1000.0;
// Responses that send the transfer elsewhere; libcurl counts their bodies as progress.
constexpr long kFirstRedirectStatus = 300;
constexpr long kFirstStatusAfterRedirects = 400;
constexpr long kRangeNotSatisfiable = 416;
// The detail of a reply that ended well without the file, such as a redirect to nowhere.
// Untranslated, like the texts of libcurl that the same status shows for other failures.
const char* const kReplyWithoutFile = "HTTP %d reply without the file";
// The pause before a resume is slept in steps this long, so a stop is seen within one.
constexpr long kPauseStepMs = 50;

// Opens the temporary file for writing without truncating it: the bytes of an earlier run may
// be continued, and the body's first write decides (see OnBody). Truncating an empty file
// would cost time as well: on ext4 a file truncated to nothing is flushed to disk when it is
// closed (auto_da_alloc), which added a third of a second to every gigabyte. A missing file
// is made.
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

TransferResult Failure(TransferOutcome outcome, const wxString& detail, long status)
{
    TransferResult result;
    result.outcome = outcome;
    result.error = wxString::Format(_("Error: %s"), detail);
    result.httpStatus = status;
    return result;
}
} // namespace

StreamTransfer::StreamTransfer(const std::atomic<bool>& stopFlag, ProgressCallback progressTo)
    : stop(stopFlag), onProgress(std::move(progressTo))
{
}

TransferResult StreamTransfer::Run(const wxString& url, const wxString& tempPath,
                                   const TransferLimits& limits)
{
    if (resume.IsComplete())
        return TransferResult();
    for (size_t resumes = 0;; ++resumes)
    {
        TransferResult result = RunOnce(url, tempPath, limits);
        if (result.IsComplete())
        {
            resume.SetComplete(true);
            return result;
        }
        if (stop.load())
        {
            result.outcome = TransferOutcome::Stopped;
            return result;
        }
        // A part that did not fit what is kept is no reason to give up: the next request
        // asks for the whole file. Nor is a range past the end: the kept bytes are a whole
        // file whose end an earlier run of the program did not see, or another file's.
        if (result.outcome == TransferOutcome::ReplyWithoutFile ||
            (result.httpStatus == kRangeNotSatisfiable && resume.KeptBytes() > 0))
            resume.Reset();
        else if (result.outcome != TransferOutcome::ConnectionCut)
            return result;
        if (resumes >= limits.resumePausesMs.size() ||
            !PauseBeforeResume(limits.resumePausesMs[resumes]))
        {
            if (stop.load())
                result.outcome = TransferOutcome::Stopped;
            return result;
        }
    }
}

bool StreamTransfer::PauseBeforeResume(long pauseMs) const
{
    const wxLongLong until = wxGetLocalTimeMillis() + pauseMs;
    while (wxGetLocalTimeMillis() < until)
    {
        if (stop.load())
            return false;
        wxMilliSleep(kPauseStepMs);
    }
    return !stop.load();
}

void StreamTransfer::Report()
{
    if (onProgress)
        onProgress(progress);
}

int StreamTransfer::OnProgress(void* transfer, std::int64_t total, std::int64_t now, std::int64_t,
                               std::int64_t)
{
    auto* self = static_cast<StreamTransfer*>(transfer);
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
    DownloadProgress& progress = self->progress;
    progress.received = self->progressBase + now;
    progress.total = total > 0 ? self->progressBase + total : -1;
    const std::int64_t elapsedMs = nowMs - self->sampleStartMs;
    if (redirect || now < self->sampleBytes)
    {
        // Counting starts again: a new sample from here.
        progress.bytesPerSecond = 0;
        self->sampleBytes = now;
        self->sampleStartMs = nowMs;
    }
    else if (elapsedMs >= kSpeedSampleMs)
    {
        progress.bytesPerSecond =
            double(now - self->sampleBytes) * kMsPerSecond / double(elapsedMs);
        self->sampleBytes = now;
        self->sampleStartMs = nowMs;
    }
    self->Report();
    // Non-zero ends the transfer with CURLE_ABORTED_BY_CALLBACK.
    return self->stop.load() ? 1 : 0;
}

size_t StreamTransfer::OnHeader(char* data, size_t size, size_t count, void* transfer)
{
    auto* self = static_cast<StreamTransfer*>(transfer);
    self->resume.OnHeaderLine(std::string(data, size * count));
    return size * count;
}

size_t StreamTransfer::OnBody(char* data, size_t size, size_t count, void* transfer)
{
    auto* self = static_cast<StreamTransfer*>(transfer);
    if (!self->bodyStarted)
    {
        self->bodyStarted = true;
        const std::int64_t kept = self->resume.KeptBytes();
        switch (self->resume.StartBody())
        {
        case TransferResume::BodyStart::Append:
            self->progressBase = kept;
            if (!KeepFirstBytes(self->file, kept))
                return 0;
            break;
        case TransferResume::BodyStart::FromZero:
            self->progressBase = 0;
            if (!KeepFirstBytes(self->file, 0))
                return 0;
            // Only once the old bytes are gone: a record of the new validator beside them
            // would let a later run continue the old body with the new one's rest.
            if (self->onNewBody)
                self->onNewBody();
            break;
        case TransferResume::BodyStart::Unusable:
            self->bodyUnusable = true;
            return 0;
        }
    }
    // Fewer bytes than given end the transfer with a write error.
    const size_t written = std::fwrite(data, size, count, self->file) * size;
    if (self->pace.IsLimited() && !self->HoldToPace(std::int64_t(written)))
        return 0;
    return written;
}

bool StreamTransfer::HoldToPace(std::int64_t bytes)
{
    // While the data keeps coming libcurl goes from one write to the next without calling the
    // progress callback, for seconds when each write waits: the progress is told and the stop
    // flag looked at here instead.
    pacedBytes += bytes;
    curl_off_t total = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    if (OnProgress(this, total, pacedBytes, 0, 0) != 0)
        return false;
    // While this waits libcurl reads nothing: the socket's buffers fill and the sender slows.
    std::int64_t waitMs = pace.WaitAfter(bytes, wxGetUTCTimeMillis().GetValue());
    while (waitMs > 0)
    {
        if (stop.load())
            return false;
        const std::int64_t step = std::min<std::int64_t>(waitMs, kPauseStepMs);
        wxMilliSleep(unsigned(step));
        waitMs -= step;
    }
    return !stop.load();
}

TransferResult StreamTransfer::RunOnce(const wxString& url, const wxString& tempPath,
                                       const TransferLimits& limits)
{
    curl = curl_easy_init();
    if (!curl)
    {
        TransferResult result;
        result.outcome = TransferOutcome::SetupFailed;
        result.error = _("Error: unable to init CURL!");
        return result;
    }

    // A path the locale cannot represent converts to nothing, and opening nothing fails.
    const wxScopedCharBuffer narrowTemp = tempPath.mb_str(wxConvLibc);
    file = narrowTemp.length() > 0 ? OpenTempForWriting(narrowTemp.data()) : nullptr;
    if (!file)
    {
        curl_easy_cleanup(curl);
        curl = nullptr;
        TransferResult result;
        result.outcome = TransferOutcome::TempFileFailed;
        result.error = _("Error: can't create tmp file!");
        return result;
    }
    std::setvbuf(file, nullptr, _IOFBF, kFileBufferBytes);
    // What an earlier run left is kept only when the file still holds all of it.
    resume.SetKeptBytes(std::min(resume.KeptBytes(), FileSize(tempPath)));

    wxString address = url;
    address.Trim(false);
    const wxScopedCharBuffer narrowUrl = address.mb_str(wxConvLibc);
    progress = DownloadProgress();
    progress.transferring = true;
    progress.received = resume.KeptBytes();
    Report();
    sampleBytes = 0;
    sampleStartMs = wxGetUTCTimeMillis().GetValue();
    bodyStarted = false;
    bodyUnusable = false;
    progressBase = resume.KeptBytes();
    pace.Start(limits.maxReceiveBytesPerSecond, wxGetUTCTimeMillis().GetValue());
    pacedBytes = 0;
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
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &StreamTransfer::OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &StreamTransfer::OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    // Signals cannot be used for time-outs in a thread.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // An error page is not the stream: 400 and above fail the transfer.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    // libcurl's own cap (CURLOPT_MAX_RECV_SPEED_LARGE) let a loopback transfer run at one and
    // a half to four times its limit, whatever the buffer: the pace in OnBody holds it instead.
    long bufferBytes = kTransferBufferBytes;
    if (limits.maxReceiveBytesPerSecond > 0)
        bufferBytes =
            long(std::clamp(curl_off_t(limits.maxReceiveBytesPerSecond) / kLimitSlicesPerSecond,
                            kLeastLimitedBufferBytes, curl_off_t(kTransferBufferBytes)));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, bufferBytes);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &StreamTransfer::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A stop during a name lookup that never answers: without this the cleanup below waits
    // for the resolver's thread, seconds or for ever; with it that thread is left to itself.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
#endif

    const CURLcode result = curl_easy_perform(curl);
    // libcurl's own text for it, "HTTP response code said error", tells the user nothing.
    long errorStatus = 0;
    if (result == CURLE_HTTP_RETURNED_ERROR)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &errorStatus);
    curl_easy_cleanup(curl);
    curl = nullptr;
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
    progress.transferring = false;
    Report();
    // Buffered data reaches the disk at the close, so a full disk may show up only here.
    const bool closed = std::fclose(file) == 0;
    if (!closed && fileError == 0)
        fileError = errno;
    file = nullptr;
    // What reached the file is what a resume continues from; a response cut before its body
    // changed nothing.
    if (bodyStarted && !bodyUnusable)
        resume.SetKeptBytes(closed ? FileSize(tempPath) : 0);
    if (!closed && fileError == 0)
        fileError = EIO;
    return Outcome(result, errorStatus, fileError);
}

TransferResult StreamTransfer::Outcome(int result, long errorStatus, int fileError) const
{
    if (errorStatus > 0)
        return Failure(TransferOutcome::HttpError, HttpStatusText(errorStatus), errorStatus);
    const long status = resume.ResponseStatus();
    if (result != CURLE_OK)
    {
        // A part that did not fit ends libcurl's transfer as a write error.
        const TransferOutcome outcome = bodyUnusable ? TransferOutcome::ReplyWithoutFile
                                        : TransferResume::IsConnectionCut(result)
                                            ? TransferOutcome::ConnectionCut
                                            : TransferOutcome::NetworkFailed;
        return Failure(outcome,
                       wxString(curl_easy_strerror(static_cast<CURLcode>(result)), wxConvLibc),
                       status);
    }
    if (bodyUnusable)
        return Failure(TransferOutcome::ReplyWithoutFile,
                       wxString::Format(kReplyWithoutFile, int(status)), status);
    if (fileError != 0)
        return Failure(TransferOutcome::FileFailed, SystemErrorText(fileError), status);
    TransferResult whole;
    whole.httpStatus = status;
    return whole;
}
