// Downloads each address given through a Downloader job of its own, all at once, the way the
// main window's Download action fills and starts them, and reports the time from the first
// start() to the last "Done" (the move into the output folder included) and the memory the
// jobs took. Every file must come out Done and of the expected size, or it fails.
//
// bench_download OUTPUT_FOLDER TEMP_FOLDER EXPECTED_BYTES URL...
#include "download/Downloader.h"

#include <curl/curl.h>
#include <wx/filename.h>
#include <wx/init.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace
{
// Often enough to see the jobs' buffers at their peak (VmHWM backs it up), rarely enough
// to cost the transfers nothing.
constexpr auto kMemorySamplePeriod = std::chrono::milliseconds(20);
// A loopback gigabyte takes seconds; this much means the run is broken, not slow.
constexpr auto kRunLimit = std::chrono::minutes(5);
constexpr int kFixedArguments = 4;
const wxString kVideoType = "video/mp4";
const wxString kVideoExtension = ".mp4";
const wxString kTempPrefix = "NK-";

// A field of /proc/self/status in KiB, -1 when it is missing.
long ReadStatusKib(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() &&
            line[key.size()] == ':')
            return std::strtol(line.c_str() + key.size() + 1, nullptr, 10);
    }
    return -1;
}

long long FileSize(const wxString& path)
{
    struct stat info;
    if (stat(path.fn_str(), &info) != 0)
        return -1;
    return (long long)(info.st_size);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc <= kFixedArguments)
    {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER TEMP_FOLDER EXPECTED_BYTES URL...\n",
                     argv[0]);
        return 2;
    }
    wxInitializer toolkit;
    if (!toolkit.IsOk())
    {
        std::fprintf(stderr, "bench_download: the toolkit did not start\n");
        return 1;
    }
    curl_global_init(CURL_GLOBAL_ALL);
    const wxString outputFolder = argv[1];
    const wxString tempFolder = argv[2];
    const long long expectedBytes = std::atoll(argv[3]);
    const int jobCount = argc - kFixedArguments;

    std::unique_ptr<Downloader[]> jobs(new Downloader[jobCount]);
    for (int i = 0; i < jobCount; ++i)
    {
        StreamRecord rec;
        rec.title = wxString::Format("bench-%d", i);
        rec.url = argv[kFixedArguments + i];
        rec.type = kVideoType;
        rec.quality = "medium";
        rec.extension = kVideoExtension;
        rec.outputPath = outputFolder + "/" + rec.title + rec.extension;
        rec.tempPath = wxFileName::CreateTempFileName(tempFolder + "/" + kTempPrefix);
        if (rec.tempPath.empty() || !jobs[i].SetRecord(rec))
        {
            std::fprintf(stderr, "bench_download: job %d could not be prepared\n", i);
            return 1;
        }
    }

    const long rssBeforeKib = ReadStatusKib("VmRSS");
    std::atomic<long> rssPeakKib{rssBeforeKib};
    std::atomic<bool> allJoined{false};
    std::atomic<bool> overTime{false};
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < jobCount; ++i)
        jobs[i].start();
    // The memory sampler doubles as the watchdog: past the limit it stops the jobs, which
    // ends their transfers and so the joins below.
    std::thread sampler(
        [&]
        {
            while (!allJoined.load())
            {
                std::this_thread::sleep_for(kMemorySamplePeriod);
                rssPeakKib.store(std::max(rssPeakKib.load(), ReadStatusKib("VmRSS")));
                if (!overTime.load() && std::chrono::steady_clock::now() - started > kRunLimit)
                {
                    overTime.store(true);
                    for (int i = 0; i < jobCount; ++i)
                        jobs[i].RequestStop();
                }
            }
        });
    // A job's thread ends right after it sets Done or Failed, so the last join is the end
    // of the run. Waiting in joins rather than polling keeps this thread from competing with
    // the transfers for the two cores.
    for (int i = 0; i < jobCount; ++i)
        jobs[i].Join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    allJoined.store(true);
    sampler.join();
    if (overTime.load())
    {
        std::fprintf(stderr, "bench_download: the jobs did not end in time\n");
        return 1;
    }
    const long hwmKib = ReadStatusKib("VmHWM");

    long long totalBytes = 0;
    bool allGood = true;
    for (int i = 0; i < jobCount; ++i)
    {
        const StreamRecord rec = jobs[i].GetRecord();
        const long long size = FileSize(rec.outputPath);
        if (jobs[i].GetState() != Done || size != expectedBytes || FileSize(rec.tempPath) >= 0)
        {
            std::fprintf(stderr, "bench_download: job %d ended \"%s\", %lld bytes of %lld\n", i,
                         (const char*)rec.statusText.utf8_str(), size, expectedBytes);
            allGood = false;
        }
        totalBytes += size > 0 ? size : 0;
    }
    curl_global_cleanup();
    if (!allGood)
        return 1;
    std::printf("seconds=%.6f bytes=%lld jobs=%d rss_before_kib=%ld rss_peak_kib=%ld "
                "hwm_kib=%ld\n",
                seconds, totalBytes, jobCount, rssBeforeKib, rssPeakKib.load(), hwmKib);
    return 0;
}
