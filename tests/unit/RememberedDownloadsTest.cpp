#include "download/RememberedDownloads.h"
#include "download/FileIdentity.h"
#include "download/OutputNames.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <wx/filefn.h>

namespace
{
class RememberedDownloadsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        wxString problem;
        ASSERT_TRUE(journal.Open(temp.File("journal.sqlite"), problem)) << problem;
    }

    JournalEntry Entry(const wxString& title)
    {
        JournalEntry entry;
        entry.title = title;
        entry.type = "video/mp4";
        entry.itag = "18";
        entry.url = "http://127.0.0.1:9/media/" + title + ".mp4";
        entry.outputPath = out.File(title + ".mp4");
        entry.tempPath = temp.File("NK-" + title);
        return entry;
    }

    TempDir temp;
    TempDir out;
    DownloadJournal journal;
};
} // namespace

TEST_F(RememberedDownloadsTest, FileRenamedIntoPlaceJustBeforeTheEndOfARunIsFoundDone)
{
    // The proposed name was taken by another file, so the download took the next one; the
    // run ended before its record said so.
    JournalEntry late = Entry("clip");
    ASSERT_TRUE(WriteFileText(late.tempPath, "the whole video"));
    late.fileId = FileIdentity(late.tempPath);
    ASSERT_TRUE(WriteFileText(late.outputPath, "another video"));
    const wxString second = OutputNames(late.outputPath).Candidate(1);
    ASSERT_TRUE(wxRenameFile(late.tempPath, second));
    late.id = journal.Add(late);
    // Cut off with its partial file gone and nothing in place: still interrupted.
    JournalEntry lost = Entry("lost");
    lost.fileId = "1:2";
    lost.id = journal.Add(lost);

    RememberedDownloads earlier;
    earlier.Load(journal);
    ASSERT_EQ(2u, earlier.Count());
    EXPECT_EQ(RememberedKind::Done, earlier.Kind(0));
    EXPECT_EQ(second, earlier.Entry(0).outputPath);
    EXPECT_EQ(RememberedKind::Interrupted, earlier.Kind(1));
    // Mended in the journal too, for the runs after this one.
    const std::vector<JournalEntry> stored = journal.Load();
    EXPECT_EQ(JournalState::Done, stored[0].state);
    EXPECT_EQ(second, stored[0].outputPath);
    EXPECT_EQ("", stored[0].tempPath);
    EXPECT_EQ(JournalState::Running, stored[1].state);

    ASSERT_TRUE(wxRemoveFile(second));
    earlier.Load(journal);
    EXPECT_EQ(RememberedKind::Missing, earlier.Kind(0)) << "its file was deleted since";
    EXPECT_TRUE(earlier.AnyFinished());
    earlier.Erase(0);
    EXPECT_FALSE(earlier.AnyFinished()) << "an interrupted one is not finished";
}

TEST_F(RememberedDownloadsTest, RetryContinuesInAPartialFileOfOursWithItsValidator)
{
    JournalEntry entry = Entry("clip");
    entry.validator = "\"v7\"";
    entry.received = 3;
    ASSERT_TRUE(WriteFileText(entry.tempPath, "12345"));
    RememberedDownloads::Retry retry = RememberedDownloads::MakeRetry(entry, nullptr);
    EXPECT_EQ(entry.tempPath, retry.record.tempPath);
    EXPECT_EQ(5, retry.keptBytes) << "the file holds what was received, whatever was recorded";
    EXPECT_EQ("\"v7\"", retry.validator);
    EXPECT_EQ(entry.url, retry.record.url);
    EXPECT_EQ(entry.outputPath, retry.record.outputPath);
    EXPECT_EQ("", retry.record.statusText);

    // Gone since, or a file that is not one of ours: a fresh start in a file of its own.
    ASSERT_TRUE(wxRemoveFile(entry.tempPath));
    retry = RememberedDownloads::MakeRetry(entry, nullptr);
    EXPECT_EQ("", retry.record.tempPath);
    EXPECT_EQ(0, retry.keptBytes);
    entry.tempPath = out.File("clip.mp4");
    ASSERT_TRUE(WriteFileText(entry.tempPath, "the user's"));
    EXPECT_EQ("", RememberedDownloads::MakeRetry(entry, nullptr).record.tempPath);
}

TEST(RememberedStreamAddress, ARelayedStreamIsAskedForAgainAtTheServiceOfThisRun)
{
    const wxString now = "http://127.0.0.1:40123/s3cr3t";
    const struct
    {
        const char* recorded;
        const char* renewed;
    } cases[] = {
        {"http://127.0.0.1:39999/old/stream/AbCdEfGhIj1/18", "/stream/AbCdEfGhIj1/18"},
        {"http://127.0.0.1:39999/old/stream/AbCdEfGhIj1/137%2B140",
         "/stream/AbCdEfGhIj1/137%2B140"},
        {"http://127.0.0.1:39999/stream/a-0123456789abcdef/hls-720",
         "/stream/a-0123456789abcdef/hls-720"},
        // Not the relay of a resolved stream: left as recorded.
        {"http://127.0.0.1:39999/media/clip1.mp4", ""},
        {"http://127.0.0.1:39999/stream/short/18", ""},
        {"http://127.0.0.1:39999/stream/AbCdEfGhIj1/18/more", ""},
        {"http://127.0.0.1:39999/stream/AbCdEfGhIj1/18?x=1", ""},
        {"http://127.0.0.1:39999/stream/a-0123456789abcdeg/18", ""},
    };
    for (const auto& c : cases)
    {
        const wxString expected = *c.renewed ? now + c.renewed : wxString();
        EXPECT_EQ(expected, RememberedDownloads::RenewedStreamAddress(c.recorded, now))
            << c.recorded;
    }
    JournalEntry entry;
    entry.url = cases[0].recorded;
    int asked = 0;
    const auto service = [&]
    {
        ++asked;
        return now;
    };
    EXPECT_EQ(now + cases[0].renewed, RememberedDownloads::MakeRetry(entry, service).record.url);
    entry.url = cases[3].recorded;
    EXPECT_EQ(entry.url, RememberedDownloads::MakeRetry(entry, service).record.url);
    EXPECT_EQ(1, asked) << "the service is asked for only when a relayed stream needs it";
}
