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
        {Failed, {Item::Retry}, false, false},
        {Done, {Item::Open, Item::ShowInFolder}, true, true},
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
