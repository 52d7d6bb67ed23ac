#include "config/SystemErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(SystemErrorTextTest, NamesKnownAndUnknownErrors)
{
    // The GNU form of strerror_r gives a known error's text by pointer and leaves the buffer
    // alone; an unknown one it writes into the buffer.
    EXPECT_EQ("No such file or directory", SystemErrorText(ENOENT));
    EXPECT_EQ("No space left on device", SystemErrorText(ENOSPC));
    EXPECT_EQ("Unknown error 100000", SystemErrorText(100000));
}
