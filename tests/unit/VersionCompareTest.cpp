#include "lookup/VersionCompare.h"

#include <gtest/gtest.h>

TEST(VersionCompareTest, PartsCompareAsNumbersMissingPartsAsZeroAndPreReleasesFirst)
{
    const struct
    {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        {"10.0", "2.0", 1},
        {"2.0", "10.0", -1},
        {"2.0", "2.0.0", 0},
        {"2.0.1", "2.0", 1},
        {"2.10", "2.9", 1},
        {"02.01", "2.1", 0},
        {"2.1", "2.0", 1},
        {"123456789012345678901234567890.0", "123456789012345678901234567889.9", 1},
        {"2.1-beta", "2.1", -1},
        {"2.1rc2", "2.1rc10", 1},
        {"2.1-beta", "2.0", 1},
        {"2.x", "2.0", -1},
        {"2", "2.0", 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.a) + " against " + c.b);
        int order = 99;
        ASSERT_TRUE(CompareVersions(c.a, c.b, order));
        EXPECT_EQ(c.order, order);
        ASSERT_TRUE(CompareVersions(c.b, c.a, order));
        EXPECT_EQ(-c.order, order) << "the order reverses with the arguments";
    }
    int order = 0;
    for (const char* notAVersion : {"", "=1.0", "v3.0", " 2.1", ".5"})
    {
        SCOPED_TRACE(notAVersion);
        EXPECT_FALSE(CompareVersions(notAVersion, "2.0", order));
        EXPECT_FALSE(CompareVersions("2.0", notAVersion, order));
    }
}
