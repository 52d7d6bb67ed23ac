#include "download/Downloader.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/filename.h>

#include <atomic>

namespace
{
constexpr long kJobLimitMs = 15000;
constexpr long kShortPauseMs = 10;
constexpr int kNotModified = 304;
constexpr int kResumes = 3;

// Replies that end well yet carry no file: the transfer sees no body at all.
class EmptyReplyTest : public testing::Test
{
protected:
    void SetUp() override
    {
        server.Routes().Get("/not-modified",
                            [this](const httplib::Request&, httplib::Response& res)
                            {
                                ++requests;
                                res.status = kNotModified;
                            });
        ASSERT_TRUE(server.Start());
        TransferLimits limits;
        limits.resumePausesMs.assign(kResumes, kShortPauseMs);
        Downloader::SetTransferLimits(limits);
    }
    void TearDown() override { Downloader::SetTransferLimits(TransferLimits()); }

    // Counted by the server's thread, so it outlives the server.
    std::atomic<int> requests{0};
    TestHttpServer server;
    TempDir temp;
};

TEST_F(EmptyReplyTest, ReplyWithoutTheFileIsTriedAgainThenFailsNamingItsStatus)
{
    StreamRecord rec;
    rec.url = server.Url("/not-modified");
    rec.type = "video/mp4";
    rec.outputPath = temp.File("clip.mp4");
    Downloader job;
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(PollUntil([&] { return job.GetState() == Failed; }, kJobLimitMs));
    job.Join();

    EXPECT_EQ(job.GetRecord().statusText, "Error: HTTP 304 reply without the file");
    // Like a part that does not fit what is kept, it is tried again after each pause.
    EXPECT_EQ(requests.load(), 1 + kResumes);
    EXPECT_FALSE(wxFileName::FileExists(rec.outputPath));
}
} // namespace
