// Runs downloads with the journal the way Norvik's start and its jobs do, without a window, for
// the tests that kill it at random moments: the start-up's clean-up, the journal, a retry of
// every interrupted download, and optionally one new download.
//
//   norvik_journal_run URL OUTPUT_FOLDER [TITLE]
//
// HOME and the XDG folders come from the environment. Exits 0 once every job has ended.
#include "download/Downloader.h"
#include "download/RememberedDownloads.h"
#include "download/TempFileRegistry.h"

#include <curl/curl.h>
#include <wx/init.h>
#include <wx/utils.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace
{
constexpr unsigned long kPollMs = 10;

bool Ended(Downloader& job)
{
    const DownloadState state = job.GetState();
    return state == Done || state == Failed;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
    {
        std::fprintf(stderr, "usage: %s URL OUTPUT_FOLDER [TITLE]\n", argv[0]);
        return 2;
    }
    wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 2;
    curl_global_init(CURL_GLOBAL_ALL);
    const wxString runs = TempFileRegistry::DefaultFolder();
    RememberedDownloads::RemoveLeftovers(runs, DownloadJournal::DefaultPath(), std::time(nullptr));
    TempFileRegistry::Open(runs);
    DownloadJournal journal;
    wxString problem;
    if (!journal.Open(DownloadJournal::DefaultPath(), problem))
    {
        std::fprintf(stderr, "%s\n", static_cast<const char*>(problem.utf8_str()));
        return 1;
    }
    // The jobs go before the journal they write.
    std::vector<std::unique_ptr<Downloader>> jobs;
    RememberedDownloads earlier;
    earlier.Load(journal);
    for (size_t i = 0; i < earlier.Count(); ++i)
    {
        if (earlier.Kind(i) != RememberedKind::Interrupted)
            continue;
        const RememberedDownloads::Retry retry =
            RememberedDownloads::MakeRetry(earlier.Entry(i), nullptr);
        jobs.push_back(std::make_unique<Downloader>());
        jobs.back()->SetRecord(retry.record);
        jobs.back()->ResumeFrom(retry.keptBytes, retry.validator);
        jobs.back()->Remember(&journal, earlier.Entry(i));
        jobs.back()->start();
    }
    if (argc > 3)
    {
        StreamRecord rec;
        rec.title = wxString::FromUTF8(argv[3]);
        rec.type = "video/mp4";
        rec.url = wxString::FromUTF8(argv[1]);
        rec.outputPath = wxString::FromUTF8(argv[2]) + "/" + rec.title + ".mp4";
        // As a lookup makes it, before the download starts.
        rec.tempPath = TempFileRegistry::CreateTempFile(TempFileRegistry::kTempNamePrefix);
        JournalEntry entry = JournalEntry::ForRecord(rec);
        entry.id = journal.Add(entry);
        jobs.push_back(std::make_unique<Downloader>());
        jobs.back()->SetRecord(rec);
        jobs.back()->Remember(entry.id != 0 ? &journal : nullptr, entry);
        jobs.back()->start();
    }
    int failed = 0;
    for (const std::unique_ptr<Downloader>& job : jobs)
    {
        while (!Ended(*job))
            wxMilliSleep(kPollMs);
        if (job->GetState() == Failed)
        {
            ++failed;
            std::fprintf(stderr, "%s\n",
                         static_cast<const char*>(job->GetRecord().statusText.utf8_str()));
        }
    }
    jobs.clear();
    TempFileRegistry::RemoveAll();
    TempFileRegistry::Close();
    return failed == 0 ? 0 : 1;
}
