// Serving the streams and thumbnails: lengths, ranges, HTTP/1.0 and only the catalogue's files.
#include "ServiceHarness.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace
{
const fs::path kDemo = NORVIK_DEMO_DIR;
const char* const kStream = "clip1.webm";

class ServiceFilesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.Start({"--catalogue", (kDemo / "catalogue.json").string()}));
        bytes = ReadFileBytes(kDemo / kStream);
        ASSERT_GT(bytes.size(), 1000u);
    }

    HttpReply GetRange(const std::string& range)
    {
        return HttpGet(service.BaseUrl() + "/media/" + kStream, {"Range: bytes=" + range});
    }

    std::string Size() const { return std::to_string(bytes.size()); }

    ServiceUnderTest service;
    std::string bytes;
};

TEST_F(ServiceFilesTest, RangeGetsPartialContentWithTheRightBytes)
{
    const HttpReply reply = GetRange("100-299");
    EXPECT_EQ(206, reply.status);
    EXPECT_EQ("bytes 100-299/" + Size(), reply.Header("content-range"));
    EXPECT_EQ("200", reply.Header("content-length"));
    EXPECT_TRUE(reply.body == bytes.substr(100, 200));
}

TEST_F(ServiceFilesTest, OpenAndSuffixRangesEndAtTheFilesEnd)
{
    const std::size_t from = bytes.size() - 10;
    const HttpReply open = GetRange(std::to_string(from) + "-");
    EXPECT_EQ(206, open.status);
    EXPECT_EQ("bytes " + std::to_string(from) + "-" + std::to_string(bytes.size() - 1) + "/" +
                  Size(),
              open.Header("content-range"));
    EXPECT_TRUE(open.body == bytes.substr(from));

    const HttpReply suffix = GetRange("-7");
    EXPECT_EQ(206, suffix.status);
    EXPECT_TRUE(suffix.body == bytes.substr(bytes.size() - 7));

    const HttpReply pastEnd = GetRange(std::to_string(from) + "-" + std::to_string(from + 1000));
    EXPECT_EQ(206, pastEnd.status);
    EXPECT_TRUE(pastEnd.body == bytes.substr(from));
}

TEST_F(ServiceFilesTest, RangeBeyondTheEndIsNotSatisfiable)
{
    const HttpReply reply = GetRange(Size() + "-");
    EXPECT_EQ(416, reply.status);
    EXPECT_EQ("bytes */" + Size(), reply.Header("content-range"));
    EXPECT_TRUE(reply.body.empty());
}

TEST_F(ServiceFilesTest, Http10RequestsGetALengthAndNoChunks)
{
    for (const std::string& path :
         {std::string("/media/") + kStream, std::string("/thumbs/thumb1.png"),
          std::string("/api/?videoid=NkDemoClip1")})
    {
        SCOPED_TRACE(path);
        const HttpReply reply =
            RawExchange(service.Port(), "GET " + service.Path() + path + " HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(reply.received) << "the server must close an HTTP/1.0 connection itself";
        EXPECT_EQ(200, reply.status);
        EXPECT_EQ(0u, reply.headers.count("transfer-encoding"));
        EXPECT_EQ(std::to_string(reply.body.size()), reply.Header("content-length"));
    }
    const HttpReply media =
        RawExchange(service.Port(), "GET " + service.Path() + "/media/clip1.webm HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(media.body == bytes);
}

TEST_F(ServiceFilesTest, OnlyFilesTheCatalogueNamesAreServed)
{
    for (const char* path :
         {"/media/../catalogue.json", "/media/%2e%2e/catalogue.json", "/media/..%2fcatalogue.json",
          "/thumbs/../../../../etc/passwd", "/media//etc/passwd", "/media/%2fetc%2fpasswd",
          "/media/catalogue.json", "/media/make-demo.sh", "/thumbs/clip1.mp4", "/media/thumb1.png",
          "/media/nothing.mp4", "/media/", "/elsewhere"})
    {
        SCOPED_TRACE(path);
        const HttpReply reply =
            RawExchange(service.Port(), "GET " + service.Path() + path + " HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(reply.received);
        EXPECT_EQ(404, reply.status);
        EXPECT_EQ(std::string::npos, reply.body.find("videos"));
        EXPECT_EQ(std::string::npos, reply.body.find("root:"));
    }
}

TEST_F(ServiceFilesTest, UnreadableRangeIsIgnoredAndTheWholeFileSent)
{
    for (const std::string range : {"abc", "10-5", "-", "x-3,4-"})
    {
        SCOPED_TRACE(range);
        const HttpReply reply = GetRange(range);
        ASSERT_TRUE(reply.received);
        EXPECT_EQ(200, reply.status);
        EXPECT_EQ("", reply.Header("content-range"));
        EXPECT_TRUE(reply.body == bytes);
    }
}
} // namespace

TEST(ServiceRateTest, MediaRateSpreadsAStreamOverTimeAndKeepsItsBytes)
{
    const std::string bytes = ReadFileBytes(kDemo / kStream);
    // Half the file a second: about two seconds for the whole body.
    const std::size_t rate = bytes.size() / 2;
    ServiceUnderTest service;
    ASSERT_TRUE(service.Start({"--catalogue", (kDemo / "catalogue.json").string(), "--media-rate",
                               std::to_string(rate)}));
    const auto begun = std::chrono::steady_clock::now();
    const HttpReply reply = HttpGet(service.BaseUrl() + "/media/" + kStream, {});
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_EQ(200, reply.status);
    EXPECT_TRUE(reply.body == bytes);
    EXPECT_GE(took, std::chrono::milliseconds(1800));

    // Replies and thumbnails are never held back.
    const auto thumbBegun = std::chrono::steady_clock::now();
    EXPECT_EQ(200, HttpGet(service.BaseUrl() + "/thumbs/thumb1.png", {}).status);
    EXPECT_LT(std::chrono::steady_clock::now() - thumbBegun, std::chrono::milliseconds(500));
}
