#pragma once

#include "download/DownloadProgress.h"
#include "download/TransferLimits.h"
#include "download/TransferPace.h"
#include "download/TransferResult.h"
#include "download/TransferResume.h"

#include <wx/string.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

// Fetches one stream into a temporary file with libcurl: resumes after a cut connection,
// continues what an earlier run kept, and reports progress with the speed. Knows nothing of
// the job that runs it: it is given the address, the file, the limits, a stop flag and where
// progress goes. Used by one thread at a time; what it keeps for a later run (the bytes in the
// file, their validator) stays between runs.
class StreamTransfer
{
public:
    using ProgressCallback = std::function<void(const DownloadProgress&)>;

    // stop is read while a transfer runs and ends it within about a second; onProgress is
    // called on the transferring thread. Both must outlive the transfer.
    StreamTransfer(const std::atomic<bool>& stop, ProgressCallback onProgress);
    StreamTransfer(const StreamTransfer&) = delete;
    StreamTransfer& operator=(const StreamTransfer&) = delete;

    // Transfers url into tempPath until the body is whole, resuming after cuts as the limits
    // allow. A transfer that came whole before returns Complete at once.
    TransferResult Run(const wxString& url, const wxString& tempPath, const TransferLimits& limits);
    // Forgets what is kept: the next run fetches the whole file.
    void Forget() { resume.Reset(); }
    // Continues, at the next run, from bytes an earlier run of the program left in the file.
    void Restore(std::int64_t keptBytes, const std::string& validator)
    {
        resume.Restore(keptBytes, validator);
    }
    // What is kept between runs: the bytes in the file that a run may continue from (0 when
    // the next run starts over) and their validator.
    std::int64_t KeptBytes() const { return resume.KeptBytes(); }
    const std::string& Validator() const { return resume.Validator(); }
    // Told on the transferring thread when a whole body replaces what the file held: the file
    // is empty, the body's first byte not yet written, and its validator is Validator().
    void SetNewBodyCallback(std::function<void()> callback) { onNewBody = std::move(callback); }

private:
    static int OnProgress(void* self, std::int64_t total, std::int64_t now, std::int64_t,
                          std::int64_t);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    // One request, continuing from the kept bytes.
    TransferResult RunOnce(const wxString& url, const wxString& tempPath,
                           const TransferLimits& limits);
    // The outcome of a request that libcurl ended with result.
    TransferResult Outcome(int result, long errorStatus, int fileError) const;
    bool PauseBeforeResume(long pauseMs) const;
    // Waits as long as the speed limit asks after bytes more were written; false when the
    // stop flag ends the transfer.
    bool HoldToPace(std::int64_t bytes);
    void Report();

    const std::atomic<bool>& stop;
    ProgressCallback onProgress;
    std::function<void()> onNewBody;
    TransferResume resume;

    // The request under way.
    void* curl = nullptr;
    FILE* file = nullptr;
    bool bodyStarted = false;
    bool bodyUnusable = false;
    // Bytes the file held before this response's body, added to its progress.
    std::int64_t progressBase = 0;
    // The speed limit, counted from the start of the request.
    TransferPace pace;
    // The body's bytes written under the pace, for the progress told meanwhile.
    std::int64_t pacedBytes = 0;
    DownloadProgress progress;
    // Start of the current speed sample.
    std::int64_t sampleBytes = 0;
    std::int64_t sampleStartMs = 0;
};
