#include "download/TransferPace.h"

#include <gtest/gtest.h>

TEST(TransferPaceTest, WaitsUntilTheBytesSoFarAreDueAndMakesUpForLateBlocks)
{
    constexpr std::int64_t kRate = 1000;
    TransferPace pace;
    pace.Start(kRate, 10000);
    const struct
    {
        std::int64_t bytes;
        std::int64_t nowMs;
        std::int64_t waitMs;
    } steps[] = {
        {500, 10000, 500},  // half a second's worth at once: wait for it
        {500, 10500, 500},  // on time: the next half second
        {1000, 12500, 0},   // a second late: the block is due at 12000, no wait
        {1000, 12600, 400}, // the late second is not given again: due at 13000
    };
    for (const auto& step : steps)
        EXPECT_EQ(step.waitMs, pace.WaitAfter(step.bytes, step.nowMs)) << step.nowMs;
}

TEST(TransferPaceTest, NoRateHoldsNothingBackAndAStartCountsAfresh)
{
    TransferPace pace;
    EXPECT_FALSE(pace.IsLimited());
    EXPECT_EQ(0, pace.WaitAfter(1 << 30, 0));
    pace.Start(-5, 0);
    EXPECT_FALSE(pace.IsLimited());
    pace.Start(100, 0);
    EXPECT_EQ(1000, pace.WaitAfter(100, 0));
    pace.Start(100, 5000);
    EXPECT_EQ(500, pace.WaitAfter(50, 5000));
}
