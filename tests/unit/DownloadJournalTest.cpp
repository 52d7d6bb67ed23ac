#include "download/DownloadJournal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <wx/dir.h>
#include <wx/file.h>

#include <chrono>
#include <csignal>
#include <random>
#include <set>
#include <thread>

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
