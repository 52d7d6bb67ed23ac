// One Range header's ranges against a file's length, as the catalogue's files answer them.
#include "ByteRange.h"

#include <gtest/gtest.h>

namespace
{
constexpr long long kOpen = RequestedRange::kOpen;
using Kind = ByteRange::Kind;

TEST(ByteRangeTest, EachRangeGivesItsBytesTheWholeFileOrNothing)
{
    constexpr std::uintmax_t kSize = 1000;
    const struct
    {
        const char* header;
        std::vector<RequestedRange> ranges;
        std::uintmax_t size;
        Kind kind;
        std::uintmax_t first;
        std::uintmax_t last;
    } cases[] = {
        {"none", {}, kSize, Kind::Whole, 0, 0},
        {"bytes=0-99", {{0, 99}}, kSize, Kind::Part, 0, 99},
        {"bytes=990-2000 (cut at the end)", {{990, 2000}}, kSize, Kind::Part, 990, 999},
        {"bytes=100-", {{100, kOpen}}, kSize, Kind::Part, 100, 999},
        {"bytes=999-999", {{999, 999}}, kSize, Kind::Part, 999, 999},
        {"bytes=-100", {{kOpen, 100}}, kSize, Kind::Part, 900, 999},
        {"bytes=-5000 (more than the file)", {{kOpen, 5000}}, kSize, Kind::Part, 0, 999},
        {"bytes=1000- (past the end)", {{1000, kOpen}}, kSize, Kind::Unsatisfiable, 0, 0},
        {"bytes=-0", {{kOpen, 0}}, kSize, Kind::Unsatisfiable, 0, 0},
        {"bytes=-10 of an empty file", {{kOpen, 10}}, 0, Kind::Unsatisfiable, 0, 0},
        {"bytes=0- of an empty file", {{0, kOpen}}, 0, Kind::Unsatisfiable, 0, 0},
        {"bytes=10-5 (unreadable)", {{10, 5}}, kSize, Kind::Whole, 0, 0},
        {"bytes=0-1,5-9 (several)", {{0, 1}, {5, 9}}, kSize, Kind::Whole, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.header);
        const ByteRange fit = FitByteRange(c.ranges, c.size);
        EXPECT_EQ(c.kind, fit.kind);
        if (c.kind == Kind::Part)
        {
            EXPECT_EQ(c.first, fit.first);
            EXPECT_EQ(c.last, fit.last);
        }
    }
}
} // namespace
