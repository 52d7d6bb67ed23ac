#include "download/TransferResume.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <string>
#include <vector>

namespace
{
using Lines = std::vector<std::string>;

// A resume that kept bytes of a response with the given validator headers.
TransferResume KeptFrom(const Lines& firstResponse, std::int64_t kept)
{
    TransferResume resume;
    for (const std::string& line : firstResponse)
        resume.OnHeaderLine(line);
    EXPECT_EQ(TransferResume::BodyStart::FromZero, resume.StartBody());
    resume.SetKeptBytes(kept);
    return resume;
}
} // namespace

TEST(TransferResumeTest, BodyStartFollowsStatusAndContentRange)
{
    using Start = TransferResume::BodyStart;
    const struct
    {
        const char* name;
        std::int64_t kept;
        Lines response;
        Start start;
    } cases[] = {
        {"whole file", 0, {"HTTP/1.1 200 OK\r\n"}, Start::FromZero},
        {"whole file over kept bytes", 1000, {"HTTP/1.1 200 OK\r\n"}, Start::FromZero},
        {"rest after kept bytes",
         1000,
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 1000-4999/5000\r\n"},
         Start::Append},
        {"header names in any case",
         1000,
         {"HTTP/2 206\r\n", "content-RANGE:  BYTES 1000-4999/5000 \r\n"},
         Start::Append},
        {"part elsewhere",
         1000,
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 500-4999/5000\r\n"},
         Start::Unusable},
        {"part without a range", 1000, {"HTTP/1.1 206 Partial Content\r\n"}, Start::Unusable},
        {"part from zero is the whole file",
         0,
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 0-4999/5000\r\n"},
         Start::FromZero},
        {"range of another unit",
         1000,
         {"HTTP/1.1 206 Partial Content\r\n", "Content-Range: items 1000-4999/5000\r\n"},
         Start::Unusable},
        {"not modified", 1000, {"HTTP/1.1 304 Not Modified\r\n"}, Start::Unusable},
        {"final redirect", 0, {"HTTP/1.1 302 Found\r\n"}, Start::Unusable},
        {"status of the last response counts",
         1000,
         {"HTTP/1.1 302 Found\r\n", "Content-Range: bytes 1000-4999/5000\r\n",
          "HTTP/1.1 206 Partial Content\r\n", "Content-Range: bytes 1000-4999/5000\r\n"},
         Start::Append},
        {"range of a redirect is forgotten",
         1000,
         {"HTTP/1.1 302 Found\r\n", "Content-Range: bytes 1000-4999/5000\r\n",
          "HTTP/1.1 206 Partial Content\r\n"},
         Start::Unusable},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        TransferResume resume;
        resume.SetKeptBytes(c.kept);
        for (const std::string& line : c.response)
            resume.OnHeaderLine(line);
        EXPECT_EQ(c.start, resume.StartBody());
        // A whole file is the new basis; anything else leaves the kept bytes as they were.
        EXPECT_EQ(c.start == Start::FromZero ? 0 : c.kept, resume.KeptBytes());
    }
}

TEST(TransferResumeTest, RequestAsksForTheRestOnlyOfTheSameFile)
{
    const struct
    {
        const char* name;
        Lines firstResponse;
        std::int64_t kept;
        Lines headers;
    } cases[] = {
        {"nothing kept", {"HTTP/1.1 200 OK\r\n", "ETag: \"v1\"\r\n"}, 0, {}},
        {"strong tag",
         {"HTTP/1.1 200 OK\r\n", "ETag: \"v1\"\r\n", "Last-Modified: Mon, 01 Jan 2024\r\n"},
         700,
         {"Range: bytes=700-", "If-Range: \"v1\""}},
        {"weak tag gives way to the date",
         {"HTTP/1.1 200 OK\r\n", "ETag: W/\"v1\"\r\n", "Last-Modified: Mon, 01 Jan 2024\r\n"},
         700,
         {"Range: bytes=700-", "If-Range: Mon, 01 Jan 2024"}},
        {"no validator", {"HTTP/1.1 200 OK\r\n"}, 700, {"Range: bytes=700-"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.headers, KeptFrom(c.firstResponse, c.kept).RequestHeaders());
    }
}

TEST(TransferResumeTest, ResetForgetsBytesValidatorAndCompleteness)
{
    TransferResume resume = KeptFrom({"HTTP/1.1 200 OK\r\n", "ETag: \"v1\"\r\n"}, 700);
    resume.SetComplete(true);
    resume.Reset();
    EXPECT_EQ(0, resume.KeptBytes());
    EXPECT_FALSE(resume.IsComplete());
    EXPECT_TRUE(resume.RequestHeaders().empty());
    // A later part of the old file must not be appended to a new start.
    resume.SetKeptBytes(700);
    EXPECT_EQ((Lines{"Range: bytes=700-"}), resume.RequestHeaders());
}

TEST(TransferResumeTest, OnlyConnectionCutsAreWorthAResume)
{
    for (const int cut : {CURLE_PARTIAL_FILE, CURLE_RECV_ERROR, CURLE_SEND_ERROR, CURLE_GOT_NOTHING,
                          CURLE_OPERATION_TIMEDOUT})
        EXPECT_TRUE(TransferResume::IsConnectionCut(cut)) << cut;
    for (const int other :
         {CURLE_OK, CURLE_HTTP_RETURNED_ERROR, CURLE_WRITE_ERROR, CURLE_COULDNT_CONNECT,
          CURLE_ABORTED_BY_CALLBACK, CURLE_UNSUPPORTED_PROTOCOL})
        EXPECT_FALSE(TransferResume::IsConnectionCut(other)) << other;
}
