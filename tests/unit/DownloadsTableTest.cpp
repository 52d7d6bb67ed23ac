#include "download/DownloadsTable.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
constexpr int kJobs = 4;
} // namespace

TEST(DownloadsTableTest, LinesShowTheJobsOfTheSameNumberWithinTheList)
{
    const DownloadsTable table(kJobs);
    EXPECT_EQ(0, table.JobOfLine(0, 2));
    EXPECT_EQ(1, table.JobOfLine(1, 2));
    // No line under the pointer, a line past the list's end, a list longer than the jobs.
    EXPECT_EQ(-1, table.JobOfLine(-1, 2));
    EXPECT_EQ(-1, table.JobOfLine(2, 2));
    EXPECT_EQ(-1, table.JobOfLine(kJobs, kJobs + 1));
    EXPECT_FALSE(DownloadsTable::HasLine(Idle));
    for (const DownloadState state : {Busy, Done, Failed})
        EXPECT_TRUE(DownloadsTable::HasLine(state)) << state;
}

TEST(DownloadsTableTest, MenuOffersWhatTheStateAllows)
{
    using Item = DownloadMenuItem;
    const struct
    {
        DownloadState state;
        std::vector<Item> items;
        bool opens;
        bool holdsRecord;
    } cases[] = {
        {Idle, {}, false, false},
        {Busy, {Item::Cancel}, false, true},
        {Failed, {Item::Retry, Item::Remove}, false, false},
        {Done, {Item::Open, Item::ShowInFolder, Item::Remove}, true, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.state);
        EXPECT_EQ(c.items, DownloadsTable::MenuItems(c.state));
        EXPECT_EQ(c.opens, DownloadsTable::OpensOnActivation(c.state));
        EXPECT_EQ(c.holdsRecord, DownloadsTable::HoldsItsRecord(c.state));
    }
    EXPECT_EQ("Show in folder", DownloadsTable::MenuLabel(Item::ShowInFolder));
    EXPECT_EQ("Retry", DownloadsTable::MenuLabel(Item::Retry));
}

TEST(DownloadsTableTest, EachEndIsNewsOnceAndAgainAfterARetry)
{
    DownloadsTable table(kJobs);
    const struct
    {
        DownloadState state;
        bool ended;
    } refreshes[] = {{Idle, false},   {Busy, false}, {Busy, false}, {Failed, true},
                     {Failed, false}, {Busy, false}, {Done, true},  {Done, false}};
    int step = 0;
    for (const auto& r : refreshes)
    {
        SCOPED_TRACE(step++);
        EXPECT_EQ(r.ended, table.NoteState(1, r.state));
    }
    // One job's refreshes are not another's.
    EXPECT_TRUE(table.NoteState(2, Done));
    EXPECT_FALSE(table.NoteState(kJobs, Done)) << "no such job";
}

TEST(DownloadsTableTest, RememberedDownloadsTakeTheFirstLinesWithTheirKindsAndMenus)
{
    DownloadsTable table(2);
    table.SetRememberedCount(3);
    EXPECT_EQ(2, table.RememberedOfLine(2, 5));
    EXPECT_EQ(-1, table.RememberedOfLine(3, 5));
    EXPECT_EQ(-1, table.JobOfLine(2, 5));
    EXPECT_EQ(0, table.JobOfLine(3, 5));
    EXPECT_EQ(4, table.LineOfJob(1));

    // A removed line of this run's: the later jobs' lines move up, the job keeps its number.
    DownloadsTable jobs(kJobs);
    jobs.SetRememberedCount(1);
    jobs.RemoveJobLine(1);
    EXPECT_TRUE(jobs.IsJobLineRemoved(1));
    EXPECT_FALSE(jobs.IsJobLineRemoved(2));
    const int lineOfJob[] = {1, 2, 2, 3};
    for (int job = 0; job < kJobs; ++job)
        EXPECT_EQ(lineOfJob[job], jobs.LineOfJob(job)) << job;
    const int jobOfLine[] = {-1, 0, 2, 3, -1};
    for (int line = 0; line < 5; ++line)
        EXPECT_EQ(jobOfLine[line], jobs.JobOfLine(line, 4)) << line;

    JournalEntry entry;
    entry.type = "video/mp4";
    entry.title = "clip";
    entry.outputPath = "/v/clip.mp4";
    entry.statusText = "Error: HTTP 404 Not Found";
    const struct
    {
        JournalState state;
        bool exists;
        RememberedKind kind;
        const char* line;
        size_t menuItems;
    } cases[] = {
        {JournalState::Done, true, RememberedKind::Done, "[Done] video/mp4 'clip' > /v/clip.mp4",
         3},
        {JournalState::Done, false, RememberedKind::Missing,
         "[Missing] video/mp4 'clip' > /v/clip.mp4", 1},
        {JournalState::Failed, true, RememberedKind::Failed,
         "[Error: HTTP 404 Not Found] video/mp4 'clip' > /v/clip.mp4", 2},
        {JournalState::Running, false, RememberedKind::Interrupted,
         "[Interrupted] video/mp4 'clip' > /v/clip.mp4", 2},
    };
    for (const auto& c : cases)
    {
        entry.state = c.state;
        const RememberedKind kind = DownloadsTable::KindOf(entry, c.exists);
        EXPECT_EQ(c.kind, kind) << c.line;
        EXPECT_EQ(c.line, DownloadsTable::RememberedLineText(entry, kind));
        const auto items = DownloadsTable::RememberedMenuItems(kind);
        ASSERT_EQ(c.menuItems, items.size()) << c.line;
        EXPECT_EQ(DownloadMenuItem::Remove, items.back()) << c.line;
    }
    EXPECT_FALSE(DownloadsTable::IsFinished(RememberedKind::Interrupted));
    EXPECT_TRUE(DownloadsTable::IsFinished(RememberedKind::Missing));
}
