// Reading the head of a range request's answer, line by line as libcurl hands the lines on.
#include "RangeAnswer.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
RangeAnswer Read(const std::vector<std::string>& lines)
{
    RangeAnswer answer;
    for (const std::string& line : lines)
        answer.Read(line + "\r\n");
    return answer;
}

TEST(RangeAnswerTest, AFollowedRedirectIsNotTheAnswerAndLeavesNothingBehind)
{
    const RangeAnswer answer =
        Read({"HTTP/1.1 302 Found", "Location: http://elsewhere/x", "ETag: \"redirect\"", "",
              "HTTP/1.1 206 Partial Content", "content-range: bytes 100-199/5000",
              "Content-Length: 100", ""});
    EXPECT_TRUE(answer.complete);
    EXPECT_EQ(206, answer.status);
    EXPECT_EQ(100u, answer.rangeFirst);
    EXPECT_EQ(5000u, answer.total);
    EXPECT_EQ(100u, answer.length);
    EXPECT_EQ("", answer.Validator()) << "the redirect's tag is not the file's";
    EXPECT_FALSE(Read({"HTTP/1.1 301 Moved", "Location: /y", ""}).complete);
    EXPECT_TRUE(Read({"HTTP/1.1 302 Found", ""}).complete) << "nowhere to follow";
}

TEST(RangeAnswerTest, LengthsThatCannotBeReadAreUnknown)
{
    EXPECT_FALSE(Read({"HTTP/1.1 206 x", "Content-Range: bytes 0-9/*"}).total);
    EXPECT_EQ(10u, Read({"HTTP/1.1 416 x", "Content-Range: bytes */10"}).total);
    EXPECT_FALSE(Read({"HTTP/1.1 416 x", "Content-Range: bytes */10"}).rangeFirst);
    EXPECT_FALSE(Read({"HTTP/1.1 206 x", "Content-Range: bytes 0-9/-10"}).total);
    EXPECT_FALSE(Read({"HTTP/1.1 200 x", "Content-Length: 99999999999999999999"}).length);
    EXPECT_FALSE(Read({"HTTP/1.1 206 x", "Content-Range: items 0-9/10"}).rangeFirst);
}

TEST(RangeAnswerTest, OnlyAStrongTagIsAValidatorElseTheDate)
{
    const std::string date = "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT";
    EXPECT_EQ("\"v1\"", Read({"HTTP/1.1 200 x", "ETag: \"v1\"", date}).Validator());
    EXPECT_EQ("Tue, 01 Dec 2026 10:00:00 GMT",
              Read({"HTTP/1.1 200 x", "ETag: W/\"v1\"", date}).Validator());
}
} // namespace
