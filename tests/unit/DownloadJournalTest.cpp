#include "download/DownloadJournal.h"
#include "download/RememberedDownloads.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/dir.h>
#include <wx/file.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
class DownloadJournalTest : public testing::Test
{
protected:
    // The files of the folder whose names start with the journal's, itself excluded.
    std::vector<wxString> SetAsideFiles() const
    {
        std::vector<wxString> found;
        wxDir dir(temp.Path());
        wxString name;
        for (bool more = dir.GetFirst(&name, "journal.sqlite.unreadable-*"); more;
             more = dir.GetNext(&name))
            if (!name.EndsWith("-wal") && !name.EndsWith("-shm"))
                found.push_back(name);
        return found;
    }

    TempDir temp;
    const wxString path = temp.File("journal.sqlite");
};

JournalEntry Entry(const wxString& title, JournalState state)
{
    JournalEntry entry;
    entry.title = title;
    entry.type = "video/mp4";
    entry.url = "http://127.0.0.1:9/" + title;
    entry.outputPath = "/videos/" + title + ".mp4";
    entry.tempPath = "/cache/NK-" + title;
    entry.state = state;
    entry.statusText = "Downloading";
    return entry;
}
} // namespace

TEST_F(DownloadJournalTest, EveryStateAndChangeSurvivesAReopenInOrderAndRemovedOnesGo)
{
    std::vector<std::int64_t> ids;
    {
        DownloadJournal journal;
        wxString problem;
        ASSERT_TRUE(journal.Open(path, problem)) << problem;
        EXPECT_EQ("", problem);
        for (const char* title : {"running", "done", "failed", "cancelled", "removed"})
        {
            ids.push_back(journal.Add(Entry(title, JournalState::Running)));
            ASSERT_GT(ids.back(), 0) << journal.LastError();
        }
        JournalEntry done = Entry("done", JournalState::Done);
        done.id = ids[1];
        done.outputPath = "/videos/done (1).mp4";
        done.received = 123456789012LL;
        done.validator = "\"etag-ü\"";
        done.statusText = "Done";
        ASSERT_TRUE(journal.Update(done));
        JournalEntry failed = Entry("failed", JournalState::Failed);
        failed.id = ids[2];
        failed.statusText = "Error: HTTP 404 Not Found";
        ASSERT_TRUE(journal.Update(failed));
        JournalEntry cancelled = Entry("cancelled", JournalState::Cancelled);
        cancelled.id = ids[3];
        ASSERT_TRUE(journal.Update(cancelled));
        ASSERT_TRUE(journal.Remove(ids[4]));
    }
    DownloadJournal reopened;
    wxString problem;
    ASSERT_TRUE(reopened.Open(path, problem)) << problem;
    const std::vector<JournalEntry> entries = reopened.Load();
    ASSERT_EQ(4u, entries.size());
    const JournalState states[] = {JournalState::Running, JournalState::Done, JournalState::Failed,
                                   JournalState::Cancelled};
    for (size_t i = 0; i < entries.size(); ++i)
    {
        EXPECT_EQ(ids[i], entries[i].id);
        EXPECT_EQ(states[i], entries[i].state) << entries[i].title;
    }
    EXPECT_EQ("/videos/done (1).mp4", entries[1].outputPath);
    EXPECT_EQ(123456789012LL, entries[1].received);
    EXPECT_EQ("\"etag-ü\"", entries[1].validator);
    EXPECT_EQ("http://127.0.0.1:9/done", entries[1].url);
    EXPECT_EQ("/cache/NK-done", entries[1].tempPath);
    EXPECT_EQ("Error: HTTP 404 Not Found", entries[2].statusText);
    EXPECT_TRUE(SetAsideFiles().empty());
}

TEST_F(DownloadJournalTest, CorruptOrNewerJournalIsSetAsideKeptAndAnEmptyOneStarts)
{
    {
        // A newer Norvik's journal, with a record this build must not destroy.
        DownloadJournal newer;
        wxString problem;
        ASSERT_TRUE(newer.Open(path, problem));
        ASSERT_GT(newer.Add(Entry("kept", JournalState::Done)), 0);
    }
    {
        // The format number is the header's; written by hand as a newer build would.
        wxFile file(path, wxFile::read_write);
        ASSERT_TRUE(file.IsOpened());
        constexpr wxFileOffset kUserVersionOffset = 60;
        const unsigned char version[] = {0, 0, 0, 2};
        file.Seek(kUserVersionOffset);
        ASSERT_EQ(sizeof(version), file.Write(version, sizeof(version)));
    }
    for (int round = 0; round < 2; ++round)
    {
        if (round == 1)
        {
            ASSERT_TRUE(WriteFileText(path, "not a journal at all, but a page of text"));
            // Set-aside names are to the second; the second one must not meet the first.
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        }
        DownloadJournal journal;
        wxString problem;
        ASSERT_TRUE(journal.Open(path, problem));
        EXPECT_TRUE(problem.Contains("set aside")) << problem;
        EXPECT_TRUE(journal.Load().empty());
        EXPECT_GT(journal.Add(Entry("fresh", JournalState::Running)), 0);
        EXPECT_EQ(size_t(round + 1), SetAsideFiles().size());
        journal.Close();
        if (round == 0)
        {
            ASSERT_TRUE(wxRemoveFile(path));
        }
    }
}

TEST_F(DownloadJournalTest, UnopenableJournalSaysWhyAndRecordsNothing)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    ASSERT_TRUE(wxMkdir(temp.File("locked"), 0500));
    DownloadJournal journal;
    wxString problem;
    EXPECT_FALSE(journal.Open(temp.File("locked/sub/journal.sqlite"), problem));
    EXPECT_TRUE(problem.Contains("not remembered")) << problem;
    EXPECT_EQ(0, journal.Add(Entry("lost", JournalState::Running)));
    chmod(temp.File("locked").utf8_str(), 0700);
}

// A child records downloads and reports each one finished; it is killed at a random moment.
// Every download it reported must be found finished afterwards, and the journal must open.
TEST_F(DownloadJournalTest, KillAtAnyMomentLosesNoFinishedRecord)
{
    constexpr int kRuns = 50;
    constexpr int kMostLifeMs = 60;
    constexpr int kReadLimitMs = 5000;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> lifeMs(0, kMostLifeMs);
    std::set<std::int64_t> finished;
    for (int run = 0; run < kRuns; ++run)
    {
        int ends[2];
        ASSERT_EQ(0, pipe(ends));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            close(ends[0]);
            DownloadJournal journal;
            wxString problem;
            if (!journal.Open(path, problem))
                _exit(1);
            for (;;)
            {
                JournalEntry entry = Entry("loop", JournalState::Running);
                entry.id = journal.Add(entry);
                entry.state = JournalState::Done;
                entry.received = entry.id;
                if (entry.id <= 0 || !journal.Update(entry))
                    _exit(1);
                if (write(ends[1], &entry.id, sizeof(entry.id)) != ssize_t(sizeof(entry.id)))
                    _exit(1);
            }
        }
        close(ends[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(lifeMs(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed to write, run " << run;
        std::int64_t id = 0;
        pollfd readable{ends[0], POLLIN, 0};
        while (poll(&readable, 1, kReadLimitMs) > 0 && read(ends[0], &id, sizeof(id)) == sizeof(id))
            finished.insert(id);
        close(ends[0]);
        DownloadJournal journal;
        wxString problem;
        ASSERT_TRUE(journal.Open(path, problem)) << problem;
        ASSERT_EQ("", problem) << "run " << run;
        std::set<std::int64_t> found;
        for (const JournalEntry& entry : journal.Load())
            if (entry.state == JournalState::Done && entry.received == entry.id)
                found.insert(entry.id);
        for (const std::int64_t reported : finished)
            ASSERT_TRUE(found.count(reported)) << "record " << reported << " lost, run " << run;
    }
    EXPECT_FALSE(finished.empty());
}

namespace
{
// A file of a megabyte served with a strong validator, ranges honoured, in blocks a few
// milliseconds apart: a download takes about a fifth of a second.
class KilledRunsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (size_t i = 0; i < body.size(); ++i)
            body[i] = char('a' + (i * 13 + i / 997) % 26);
        server.Routes().Get("/clip",
                            [this](const httplib::Request& req, httplib::Response& res)
                            {
                                // The server library sends the range asked for.
                                if (req.get_header_value("If-Range") == kEtag)
                                    ++resumed;
                                res.set_header("ETag", kEtag);
                                res.set_content_provider(
                                    body.size(), "video/mp4",
                                    [this](size_t offset, size_t length, httplib::DataSink& sink)
                                    {
                                        std::this_thread::sleep_for(kBlockPause);
                                        const size_t step = std::min(length, kBlock);
                                        return sink.write(body.data() + offset, step) &&
                                               !server.Stopping();
                                    });
                            });
        ASSERT_TRUE(server.Start());
        for (const char* folder : {"home", "out"})
            ASSERT_TRUE(wxMkdir(temp.File(folder)));
    }

    // The driver's environment: a home of the test's own, nothing else of the user's.
    std::vector<std::string> Environment() const
    {
        const std::string home(temp.File("home").utf8_str());
        return {"HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"};
    }

    pid_t StartRun(const std::string& title) const
    {
        const std::string url = server.Url("/clip");
        const std::string out(temp.File("out").utf8_str());
        std::vector<std::string> args = {NORVIK_JOURNAL_RUN, url, out};
        if (!title.empty())
            args.push_back(title);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = Environment();
        std::vector<char*> envp;
        for (std::string& variable : env)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0)
        {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        return child;
    }

    // What the next start finds: each download's kind, the journal read as the program does.
    RememberedDownloads NextStart()
    {
        DownloadJournal journal;
        wxString problem;
        EXPECT_TRUE(journal.Open(temp.File("home/.local/share/norvik/journal.sqlite"), problem));
        EXPECT_EQ("", problem);
        RememberedDownloads found;
        found.Load(journal);
        return found;
    }

    static constexpr size_t kBodyBytes = 1024 * 1024;
    static constexpr size_t kBlock = 64 * 1024;
    static constexpr std::chrono::milliseconds kBlockPause{12};
    static constexpr const char* kEtag = "\"clip-1\"";
    std::string body = std::string(kBodyBytes, '\0');
    // Requests that continued from kept bytes; counted on the server's threads.
    std::atomic<int> resumed{0};
    TestHttpServer server;
    TempDir temp;
};

int RunCount()
{
    constexpr int kDefaultRuns = 50;
    const char* asked = std::getenv("NORVIK_KILL_RUNS");
    const int runs = asked ? std::atoi(asked) : 0;
    return runs > 0 ? runs : kDefaultRuns;
}
} // namespace

// Each run starts a download of its own and retries the ones earlier runs left, and is killed
// at a random moment. No download the journal had as finished, and no file put in place, may
// lose its record; every other one must be an interrupted download whose partial file holds
// the start of the file. A last run, not killed, finishes them all byte for byte.
TEST_F(KilledRunsTest, KillAtAnyMomentLosesNoFinishedDownloadAndLeavesTheRestRetryable)
{
    constexpr int kMostLifeMs = 400;
    constexpr long kRunLimitMs = 30000;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> lifeMs(0, kMostLifeMs);
    std::set<std::int64_t> finished;
    const int runs = RunCount();
    for (int run = 0; run < runs; ++run)
    {
        SCOPED_TRACE(run);
        const pid_t child = StartRun("clip" + std::to_string(run));
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(lifeMs(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            << "the run failed before it was killed";

        const RememberedDownloads found = NextStart();
        std::set<std::int64_t> done;
        std::set<wxString> doneFiles;
        for (size_t i = 0; i < found.Count(); ++i)
        {
            const JournalEntry& entry = found.Entry(i);
            if (found.Kind(i) == RememberedKind::Done)
            {
                done.insert(entry.id);
                doneFiles.insert(entry.outputPath);
                continue;
            }
            ASSERT_EQ(RememberedKind::Interrupted, found.Kind(i)) << entry.statusText;
            const RememberedDownloads::Retry retry = RememberedDownloads::MakeRetry(entry, nullptr);
            ASSERT_LE(retry.keptBytes, std::int64_t(kBodyBytes));
            if (retry.keptBytes > 0)
            {
                EXPECT_EQ(kEtag, retry.validator);
                EXPECT_TRUE(ReadBytes(retry.record.tempPath) ==
                            body.substr(0, size_t(retry.keptBytes)))
                    << "the partial file is not the start of the file";
            }
        }
        for (const std::int64_t id : finished)
            ASSERT_TRUE(done.count(id)) << "finished download " << id << " lost its record";
        finished = done;
        wxArrayString placed;
        wxDir::GetAllFiles(temp.File("out"), &placed, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN);
        for (const wxString& file : placed)
        {
            EXPECT_TRUE(doneFiles.count(file)) << file << " is in place without its record";
            EXPECT_TRUE(ReadBytes(file) == body) << file;
        }
    }
    EXPECT_FALSE(finished.empty());
    EXPECT_GT(resumed.load(), 0) << "no retry continued from a partial file";

    const pid_t last = StartRun("");
    ASSERT_GT(last, 0);
    int status = 0;
    ASSERT_TRUE(PollUntil([&] { return waitpid(last, &status, WNOHANG) == last; }, kRunLimitMs));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const RememberedDownloads found = NextStart();
    for (size_t i = 0; i < found.Count(); ++i)
    {
        ASSERT_EQ(RememberedKind::Done, found.Kind(i)) << found.Entry(i).title;
        EXPECT_TRUE(ReadBytes(found.Entry(i).outputPath) == body) << found.Entry(i).outputPath;
    }
    EXPECT_EQ(size_t(CountFiles(temp.File("out"))), found.Count());
    EXPECT_EQ(0, CountFiles(temp.File("home/.cache/norvik/partial")))
        << "partial files outlived their downloads";
}
