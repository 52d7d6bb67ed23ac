// The program's own download job against its service's relay of a single-file format: a
// transfer cut midway is continued with a range, by the Retry and by the automatic resume,
// into a file identical to the source. The service's stand-in resolver describes the format
// on a media server of the test's own on loopback.
#include "download/Downloader.h"
#include "support/PollUntil.h"
#include "support/ServiceProcess.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/filename.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace
{
constexpr long kJobLimitMs = 20000;
constexpr std::size_t kMediaBytes = 3000000;
constexpr std::size_t kCutAfterBytes = 1000000;
const char* const kId = "ResumeVid01";

std::string MakeMedia()
{
    std::string media(kMediaBytes, '\0');
    for (std::size_t i = 0; i < media.size(); ++i)
        media[i] = char(i % 253);
    return media;
}

class DownloaderRelayTest : public testing::Test
{
protected:
    void SetUp() override
    {
        server.Routes().Get("/media", [this](const httplib::Request& req, httplib::Response& res)
                            { Serve(req, res); });
        ASSERT_TRUE(server.Start());
        // The description the stand-in resolver prints: one file on the media server.
        WriteBytes(folder.File("formats.json"),
                   R"([{"format_id": "18", "ext": "mp4", "height": 360, "protocol": "https", )"
                   R"("filesize": )" +
                       std::to_string(kMediaBytes) + R"(, "url": ")" + server.Url("/media") +
                       R"("}])");
        ASSERT_TRUE(service.Start(NORVIK_SERVICE_EXE,
                                  {"--resolver", NORVIK_FAKE_RESOLVER, "--watch-url",
                                   "fake:formats:" + folder.Path().utf8_string() + ":%s"}))
            << service.Error();
    }

    void TearDown() override { Downloader::SetTransferLimits(TransferLimits()); }

    // The first answer ends, connection and all, after kCutAfterBytes; the others honour the
    // range the service asks for.
    void Serve(const httplib::Request& req, httplib::Response& res)
    {
        const_cast<httplib::Request&>(req).ranges.clear();
        const std::string range = req.get_header_value("Range");
        std::size_t first = 0;
        std::size_t last = media.size() - 1;
        if (std::sscanf(range.c_str(), "bytes=%zu-%zu", &first, &last) >= 1)
        {
            last = std::min(last, media.size() - 1);
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                std::to_string(last) + "/" +
                                                std::to_string(media.size()));
        }
        {
            const std::lock_guard<std::mutex> hold(lock);
            firsts.push_back(first);
        }
        const bool cut = !cutDone.exchange(true);
        res.set_content_provider(
            last - first + 1, "video/mp4",
            [this, cut, first](std::size_t offset, std::size_t count, httplib::DataSink& sink)
            {
                if (cut && offset >= kCutAfterBytes)
                    return false;
                const std::size_t step = cut ? kCutAfterBytes - offset : count;
                return sink.write(media.data() + first + offset, std::min(step, count));
            });
    }

    std::vector<std::size_t> Firsts()
    {
        const std::lock_guard<std::mutex> hold(lock);
        return firsts;
    }

    StreamRecord Record()
    {
        StreamRecord rec;
        rec.title = "Resumed clip";
        rec.url = service.BaseUrl() + "/stream/" + kId + "/18";
        rec.type = "video/mp4";
        rec.outputPath = out.File("clip.mp4");
        rec.tempPath = wxFileName::CreateTempFileName(temp.File("NK-"));
        return rec;
    }

    const std::string media = MakeMedia();
    TestHttpServer server;
    TempDir folder;
    TempDir temp;
    TempDir out;
    ServiceProcess service;
    std::atomic<bool> cutDone{false};
    // Guards firsts, written by the server's threads: where each request to the source began.
    std::mutex lock;
    std::vector<std::size_t> firsts;
};

bool WaitUntilEnded(Downloader& job)
{
    return PollUntil([&] { return job.GetState() == Done || job.GetState() == Failed; },
                     kJobLimitMs);
}

TEST_F(DownloaderRelayTest, RetryAfterACutContinuesWithARangeIntoTheSameFile)
{
    TransferLimits limits;
    limits.resumePausesMs.clear();
    Downloader::SetTransferLimits(limits);
    Downloader job;
    const StreamRecord rec = Record();
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(WaitUntilEnded(job));
    ASSERT_EQ(Failed, job.GetState()) << "a cut transfer is never Done";
    const std::size_t kept = ReadBytes(rec.tempPath).size();
    EXPECT_EQ(kCutAfterBytes, kept);

    ASSERT_TRUE(job.Retry());
    ASSERT_TRUE(WaitUntilEnded(job));
    EXPECT_EQ(Done, job.GetState()) << job.GetRecord().statusText;
    EXPECT_TRUE(ReadBytes(job.GetRecord().outputPath) == media);
    // The service asked the source for the rest alone.
    EXPECT_EQ((std::vector<std::size_t>{0, kept}), Firsts());
}

TEST_F(DownloaderRelayTest, TheAutomaticResumeContinuesWithARangeToo)
{
    TransferLimits limits;
    limits.resumePausesMs = {10};
    Downloader::SetTransferLimits(limits);
    Downloader job;
    const StreamRecord rec = Record();
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(WaitUntilEnded(job));
    EXPECT_EQ(Done, job.GetState()) << job.GetRecord().statusText;
    EXPECT_TRUE(ReadBytes(job.GetRecord().outputPath) == media);
    EXPECT_EQ((std::vector<std::size_t>{0, kCutAfterBytes}), Firsts());
}
} // namespace
