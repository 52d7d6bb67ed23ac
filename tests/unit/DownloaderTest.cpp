#include "download/Downloader.h"
#include "download/RememberedDownloads.h"
#include "support/FlvBuilder.h"
#include "support/GermanLocale.h"
#include "support/PollUntil.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/filename.h>
#include <wx/time.h>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
constexpr long kJobLimitMs = 15000;

std::string MakeBody(size_t size)
{
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = char('a' + (i * 7 + i / 251) % 26);
    return body;
}

// A loopback port that counts the connections made to it, to show that nothing reached it.
class CountingPort
{
public:
    ~CountingPort()
    {
        stop.store(true);
        if (watcher.joinable())
            watcher.join();
        if (listener >= 0)
            close(listener);
    }

    bool Start()
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener, kBacklog) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        port = ntohs(address.sin_port);
        watcher = std::thread(
            [this]
            {
                while (!stop.load())
                {
                    pollfd waiting{listener, POLLIN, 0};
                    if (poll(&waiting, 1, kPollMs) <= 0)
                        continue;
                    const int client = accept(listener, nullptr, nullptr);
                    if (client >= 0)
                    {
                        ++connections;
                        close(client);
                    }
                }
            });
        return true;
    }

    int Port() const { return port; }
    int Connections() const { return connections.load(); }

private:
    static constexpr int kBacklog = 8;
    static constexpr int kPollMs = 20;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    std::thread watcher;
};

bool WaitUntilEnded(Downloader& job, long limitMs = kJobLimitMs)
{
    return PollUntil([&] { return job.GetState() == Done || job.GetState() == Failed; }, limitMs);
}

class DownloaderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        httplib::Server& routes = server.Routes();
        routes.Get("/file", [this](const httplib::Request&, httplib::Response& res)
                   { res.set_content(body, "video/mp4"); });
        routes.Get("/redirect", [](const httplib::Request&, httplib::Response& res)
                   { res.set_redirect("/file"); });
        routes.Get("/missing",
                   [](const httplib::Request&, httplib::Response& res)
                   {
                       res.status = 404;
                       res.set_content("not here", "text/plain");
                   });
        routes.Get("/broken",
                   [](const httplib::Request&, httplib::Response& res)
                   {
                       res.status = 500;
                       res.set_content("server error page", "text/plain");
                   });
        // Announces the whole body, sends half, then drops the connection.
        routes.Get("/cut",
                   [this](const httplib::Request&, httplib::Response& res)
                   {
                       res.set_content_provider(
                           body.size(), "video/mp4",
                           [this](size_t offset, size_t, httplib::DataSink& sink)
                           {
                               if (offset > 0)
                                   return false;
                               sink.write(body.data(), body.size() / 2);
                               return true;
                           });
                   });
        server.AddStalledStream("/stall", "video/mp4", body.substr(0, 10));
        routes.Get("/flv", [this](const httplib::Request&, httplib::Response& res)
                   { res.set_content(flv.Bytes(), "video/x-flv"); });
        routes.Get("/agent",
                   [this](const httplib::Request& req, httplib::Response& res)
                   {
                       {
                           std::lock_guard<std::mutex> guard(agentMutex);
                           userAgent = req.get_header_value("User-Agent");
                       }
                       res.set_content(body, "video/mp4");
                   });
        // A redirect with a body of its own, sent in two halves, to a final response also sent
        // in two; each waits between its halves until the test lets it go on.
        routes.Get("/redirect-with-body",
                   [this](const httplib::Request&, httplib::Response& res)
                   {
                       res.status = 302;
                       res.set_header("Location", "/final-in-halves");
                       SendInHalves(res, kRedirectBodySize, redirectHalfSent, redirectGoOn);
                   });
        routes.Get("/final-in-halves", [this](const httplib::Request&, httplib::Response& res)
                   { SendInHalves(res, kFinalBodySize, finalHalfSent, finalGoOn); });
        routes.Get("/ranged", [this](const httplib::Request& req, httplib::Response& res)
                   { ServeRanged(req, res); });
        ASSERT_TRUE(server.Start());
        TransferLimits limits;
        limits.lowSpeedSeconds = 2;
        limits.resumePausesMs = {kShortPauseMs, kShortPauseMs, kShortPauseMs};
        Downloader::SetTransferLimits(limits);
    }
    void TearDown() override
    {
        server.Stop();
        Downloader::SetTransferLimits(TransferLimits());
    }

    StreamRecord Record(const std::string& path, const wxString& output)
    {
        StreamRecord rec;
        rec.title = "My clip";
        rec.url = server.Url(path);
        rec.type = "video/mp4";
        rec.outputPath = output;
        rec.tempPath = wxFileName::CreateTempFileName(temp.File("NK-"));
        return rec;
    }

    // Runs one job to its end and gives back its final record.
    StreamRecord RunJob(Downloader& job, const StreamRecord& rec)
    {
        EXPECT_TRUE(job.SetRecord(rec));
        job.start();
        EXPECT_TRUE(WaitUntilEnded(job));
        job.Join();
        return job.GetRecord();
    }

    void SendInHalves(httplib::Response& res, size_t size, std::atomic<bool>& halfSent,
                      std::atomic<bool>& goOn)
    {
        res.set_content_provider(
            size, "video/mp4",
            [this, size, &halfSent, &goOn](size_t offset, size_t, httplib::DataSink& sink)
            {
                const std::string half(size / 2, 'r');
                if (offset == 0)
                {
                    const bool written = sink.write(half.data(), half.size());
                    halfSent.store(true);
                    return written;
                }
                while (!goOn.load() && !server.Stopping())
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const std::string rest(size - offset, 'f');
                return sink.write(rest.data(), rest.size());
            });
    }

    static constexpr size_t kRedirectBodySize = 2000000;
    static constexpr size_t kFinalBodySize = 200000;
    std::atomic<bool> redirectHalfSent{false};
    std::atomic<bool> redirectGoOn{false};
    std::atomic<bool> finalHalfSent{false};
    std::atomic<bool> finalGoOn{false};
    // A file with a strong validator that honours ranges the way a web server does: the
    // rest when If-Range matches, the whole file when it does not. Switches make it slow,
    // cut the first responses short, or ignore ranges.
    void ServeRanged(const httplib::Request& req, httplib::Response& res)
    {
        std::lock_guard<std::mutex> guard(served);
        // The server library would cut the range out of this answer a second time.
        const_cast<httplib::Request&>(req).ranges.clear();
        const std::string range = req.get_header_value("Range");
        const std::string ifRange = req.get_header_value("If-Range");
        requests.push_back({range, ifRange});
        size_t from = 0;
        if (!ignoreRanges && range.rfind("bytes=", 0) == 0 && (ifRange.empty() || ifRange == etag))
            from = std::stoul(range.substr(6));
        res.set_header("ETag", etag);
        if (from > 0)
        {
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                std::to_string(ranged.size() - 1) + "/" +
                                                std::to_string(ranged.size()));
        }
        const std::string content = ranged.substr(from);
        const bool cut = cutsLeft > 0;
        if (cut)
            --cutsLeft;
        res.set_content_provider(
            content.size(), "video/mp4",
            [this, content, cut](size_t offset, size_t, httplib::DataSink& sink)
            {
                // A cut response ends, connection and all, a third of the way in.
                if (cut && offset >= content.size() / 3)
                    return false;
                const int pause = paceMs.load();
                if (pause > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(pause));
                const size_t step = std::min(kPaceChunk, content.size() - offset);
                return sink.write(content.data() + offset, step) && !server.Stopping();
            });
    }

    struct RangeRequest
    {
        std::string range;
        std::string ifRange;
    };
    std::vector<RangeRequest> Requests()
    {
        std::lock_guard<std::mutex> guard(served);
        return requests;
    }
    void ForgetRequests()
    {
        std::lock_guard<std::mutex> guard(served);
        requests.clear();
    }
    // A new file for the ranged route; a response still being sent goes on with its own copy.
    void ServeRangedFile(const std::string& content, const std::string& validator)
    {
        std::lock_guard<std::mutex> guard(served);
        ranged = content;
        etag = validator;
    }

    static constexpr long kShortPauseMs = 20;
    static constexpr size_t kPaceChunk = 16 * 1024;

    std::string body = MakeBody(300000);
    // Two audio tags around a video tag: the MP3 is the sound of both, nothing of the video.
    FlvBuilder flv = FlvBuilder().Audio("first sound ").Video(500).Audio("second sound");
    const std::string flvSound = "first sound second sound";
    std::mutex agentMutex;
    std::string userAgent;
    // Guards the ranged route's file and the requests it was sent: server threads read and
    // record under it, and the test changes them under it. Only the test thread writes the
    // file, so its own reads need no lock.
    std::mutex served;
    std::string ranged = MakeBody(600000);
    std::string etag = "\"v1\"";
    std::vector<RangeRequest> requests;
    // Switches the test sets while server threads read them.
    std::atomic<bool> ignoreRanges{false};
    std::atomic<int> cutsLeft{0};
    std::atomic<int> paceMs{0};
    TestHttpServer server;
    TempDir temp;
    TempDir out;
};
} // namespace

TEST(DownloadJob, FreshJobIsIdleWithEmptyRecord)
{
    Downloader job;
    EXPECT_EQ(Idle, job.GetState());
    const StreamRecord rec = job.GetRecord();
    for (const wxString* field :
         {&rec.title, &rec.outputPath, &rec.tempPath, &rec.itag, &rec.url, &rec.type, &rec.quality,
          &rec.size, &rec.extension, &rec.statusText})
        EXPECT_TRUE(field->empty());
}

TEST(DownloadJob, SetErrorSetsStateAndTextTogetherAndRefusesNewRecords)
{
    Downloader job;
    StreamRecord rec;
    rec.title = "first";
    ASSERT_TRUE(job.SetRecord(rec));
    job.SetStatus("Downloading");
    job.SetError("Error: boom");
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_EQ("Error: boom", job.GetRecord().statusText);
    rec.title = "second";
    EXPECT_FALSE(job.SetRecord(rec));
    EXPECT_EQ("first", job.GetRecord().title);
}

TEST(DownloadJob, GetRecordIsACopy)
{
    Downloader job;
    StreamRecord rec;
    rec.title = "kept";
    job.SetRecord(rec);
    StreamRecord copy = job.GetRecord();
    copy.title = "changed";
    EXPECT_EQ("kept", job.GetRecord().title);
}

TEST_F(DownloaderTest, MovesTheDownloadToItsOutputPath)
{
    Downloader job;
    const StreamRecord rec = Record("/file", out.File("My clip.mp4"));
    const StreamRecord end = RunJob(job, rec);
    EXPECT_EQ(Done, job.GetState());
    EXPECT_EQ("Done", end.statusText);
    EXPECT_EQ(body, ReadBytes(rec.outputPath));
    EXPECT_FALSE(wxFileExists(rec.tempPath));
    EXPECT_EQ(1, CountFiles(out.Path()));
}

TEST_F(DownloaderTest, RecordIsRefusedWhileBusyAndOnceDone)
{
    Downloader job;
    StreamRecord rec = Record("/stall", out.File("clip.mp4"));
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(PollUntil([&] { return job.GetProgress().received > 0; }, kJobLimitMs));
    StreamRecord other = Record("/file", out.File("other.mp4"));
    EXPECT_FALSE(job.SetRecord(other)) << "taken while Busy";
    EXPECT_EQ(rec.outputPath, job.GetRecord().outputPath);
    job.RequestStop();
    job.Join();

    Downloader finished;
    RunJob(finished, Record("/file", out.File("done.mp4")));
    ASSERT_EQ(Done, finished.GetState());
    EXPECT_FALSE(finished.SetRecord(other)) << "taken once Done";
    EXPECT_EQ(out.File("done.mp4"), finished.GetRecord().outputPath);
}

TEST_F(DownloaderTest, Mp3EntryIsConvertedToTheSoundOfTheFlvStream)
{
    Downloader job;
    StreamRecord rec = Record("/flv", out.File("My clip.mp3"));
    rec.type = "mp3";
    const StreamRecord end = RunJob(job, rec);
    EXPECT_EQ(Done, job.GetState());
    EXPECT_EQ("Done", end.statusText);
    EXPECT_EQ(flvSound, ReadBytes(rec.outputPath));
    EXPECT_FALSE(wxFileExists(rec.tempPath)) << "the downloaded FLV is not kept";
    EXPECT_EQ(1, CountFiles(out.Path()));
}

TEST_F(DownloaderTest, FinishedFilesNeverReplaceAFileAndTheRecordNamesTheOneUsed)
{
    ASSERT_TRUE(WriteBytes(out.File("My clip.mp4"), "the user's own"));
    ASSERT_TRUE(WriteBytes(out.File("My clip.mp3"), "the user's own song"));
    StreamRecord video = Record("/file", out.File("My clip.mp4"));
    video.extension = ".mp4";
    StreamRecord song = Record("/flv", out.File("My clip.mp3"));
    song.type = "mp3";
    song.extension = ".mp3";
    const struct
    {
        StreamRecord rec;
        const char* placedName;
        std::string content;
    } cases[] = {{video, "My clip-1.mp4", body},
                 {video, "My clip-2.mp4", body},
                 {song, "My clip-1.mp3", flvSound}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.placedName);
        StreamRecord rec = c.rec;
        rec.tempPath = wxFileName::CreateTempFileName(temp.File("NK-"));
        Downloader job;
        const StreamRecord end = RunJob(job, rec);
        ASSERT_EQ(Done, job.GetState()) << end.statusText;
        EXPECT_EQ(out.File(c.placedName), end.outputPath);
        EXPECT_TRUE(ReadBytes(end.outputPath) == c.content);
    }
    EXPECT_EQ("the user's own", ReadBytes(out.File("My clip.mp4")));
    EXPECT_EQ("the user's own song", ReadBytes(out.File("My clip.mp3")));
}

TEST_F(DownloaderTest, OnlyHttpAndHttpsAreFetchedOrFollowed)
{
    CountingPort port;
    ASSERT_TRUE(port.Start());
    const std::string gopher =
        "gopher://127.0.0.1:" + std::to_string(port.Port()) + "/_SET%20key%20value%0D%0A";
    server.Routes().Get("/to-gopher", [&](const httplib::Request&, httplib::Response& res)
                        { res.set_redirect(gopher); });
    for (const std::string& url : {gopher, server.Url("/to-gopher")})
    {
        SCOPED_TRACE(url);
        Downloader job;
        StreamRecord rec = Record("/file", out.File("clip.mp4"));
        rec.url = url;
        RunJob(job, rec);
        EXPECT_EQ(Failed, job.GetState());
        EXPECT_FALSE(wxFileExists(rec.outputPath));
    }
    EXPECT_EQ(0, port.Connections()) << "something was sent to the gopher address";
}

TEST_F(DownloaderTest, Mp3EntryOfAStreamThatIsNoFlvFailsWithoutAnOutput)
{
    Downloader job;
    StreamRecord rec = Record("/file", out.File("My clip.mp3"));
    rec.type = "mp3";
    const StreamRecord end = RunJob(job, rec);
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_EQ("Error: conversion to MP3 failed!", end.statusText);
    EXPECT_EQ(0, CountFiles(out.Path()));
}

TEST_F(DownloaderTest, TypeMp3InCapitalsIsMovedAsItCameNotConverted)
{
    Downloader job;
    StreamRecord rec = Record("/flv", out.File("My clip.mp3"));
    rec.type = "MP3";
    RunJob(job, rec);
    EXPECT_EQ(Done, job.GetState());
    EXPECT_EQ(flv.Bytes(), ReadBytes(rec.outputPath));
}

TEST_F(DownloaderTest, SendsTheFixedUserAgent)
{
    Downloader job;
    RunJob(job, Record("/agent", out.File("clip.mp4")));
    EXPECT_EQ(Done, job.GetState());
    std::lock_guard<std::mutex> guard(agentMutex);
    EXPECT_EQ("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.0.3705; .NET "
              "CLR 1.1.4322)",
              userAgent);
}

TEST_F(DownloaderTest, FollowsRedirectsTrimsLeadingBlanksAndMakesItsOwnTempFile)
{
    Downloader job;
    StreamRecord rec = Record("/redirect", out.File("clip.mp4"));
    rec.url = " \t\n" + rec.url;
    rec.tempPath.clear();
    RunJob(job, rec);
    EXPECT_EQ(Done, job.GetState());
    EXPECT_EQ(body, ReadBytes(rec.outputPath));
}

TEST_F(DownloaderTest, ProgressCountsOnlyTheFinalResponseAndSpeedIsNeverNegative)
{
    // Longer than a speed sample, so one is taken in each phase.
    constexpr long kPastOneSampleMs = 1300;
    // The pauses must not count as a stall.
    Downloader::SetTransferLimits(TransferLimits());
    Downloader job;
    const StreamRecord rec = Record("/redirect-with-body", out.File("clip.mp4"));
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();

    ASSERT_TRUE(PollUntil([&] { return redirectHalfSent.load(); }, kJobLimitMs));
    wxMilliSleep(kPastOneSampleMs);
    DownloadProgress progress = job.GetProgress();
    EXPECT_TRUE(progress.transferring);
    EXPECT_EQ(0, progress.received) << "the redirect's body is not the stream";
    EXPECT_EQ(-1, progress.total);

    redirectGoOn.store(true);
    ASSERT_TRUE(PollUntil([&] { return finalHalfSent.load(); }, kJobLimitMs));
    wxMilliSleep(kPastOneSampleMs);
    progress = job.GetProgress();
    EXPECT_LE(progress.received, std::int64_t(kFinalBodySize));
    EXPECT_EQ(std::int64_t(kFinalBodySize), progress.total);
    EXPECT_GE(progress.bytesPerSecond, 0);

    finalGoOn.store(true);
    EXPECT_TRUE(WaitUntilEnded(job));
    job.Join();
    EXPECT_EQ(Done, job.GetState());
    EXPECT_EQ(kFinalBodySize, ReadBytes(rec.outputPath).size());
}

TEST_F(DownloaderTest, HttpErrorsFailTheJobAndLeaveNothing)
{
    const struct
    {
        const char* path;
        const char* status;
    } cases[] = {{"/missing", "Error: HTTP 404 Not Found"},
                 {"/broken", "Error: HTTP 500 Internal Server Error"}};
    for (const auto& c : cases)
    {
        Downloader job;
        const StreamRecord rec = Record(c.path, out.File("clip.mp4"));
        const StreamRecord end = RunJob(job, rec);
        EXPECT_EQ(Failed, job.GetState()) << c.path;
        EXPECT_EQ(c.status, end.statusText);
        EXPECT_FALSE(wxFileExists(rec.outputPath)) << c.path;
    }
    {
        // The reason is the user's language too, not only the words around it.
        GermanLocale german;
        ASSERT_TRUE(german.Ready());
        Downloader job;
        EXPECT_EQ("Fehler: HTTP 404 Nicht gefunden",
                  RunJob(job, Record("/missing", out.File("clip.mp4"))).statusText);
    }
    // The failed jobs have gone, and with them the bytes they kept for a retry.
    EXPECT_EQ(0, CountFiles(temp.Path()));
}

TEST_F(DownloaderTest, ServerGoneMidBodyFailsAndKeepsTheEarlierFile)
{
    const wxString output = out.File("clip.mp4");
    ASSERT_TRUE(WriteFileText(output, "the earlier download"));
    Downloader job;
    const StreamRecord end = RunJob(job, Record("/cut", output));
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_TRUE(end.statusText.StartsWith("Error: ")) << end.statusText;
    EXPECT_EQ("the earlier download", ReadFileText(output));
    EXPECT_EQ(1, CountFiles(out.Path()));
}

TEST_F(DownloaderTest, StalledTransferEndsAtTheLowSpeedLimit)
{
    TransferLimits limits;
    limits.lowSpeedSeconds = 2;
    limits.resumePausesMs.clear();
    Downloader::SetTransferLimits(limits);
    Downloader job;
    const wxLongLong started = wxGetLocalTimeMillis();
    const StreamRecord end = RunJob(job, Record("/stall", out.File("clip.mp4")));
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_TRUE(end.statusText.StartsWith("Error: ")) << end.statusText;
    EXPECT_LT((wxGetLocalTimeMillis() - started).GetValue(), 10000);
}

TEST_F(DownloaderTest, StopRequestEndsARunningTransferQuickly)
{
    Downloader job;
    StreamRecord rec = Record("/stall", out.File("clip.mp4"));
    TransferLimits patient;
    Downloader::SetTransferLimits(patient);
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(PollUntil([&] { return job.GetProgress().received > 0; }, kJobLimitMs));
    const wxLongLong asked = wxGetLocalTimeMillis();
    job.RequestStop();
    job.Join();
    EXPECT_LT((wxGetLocalTimeMillis() - asked).GetValue(), 2000);
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_FALSE(wxFileExists(rec.outputPath));
}

TEST_F(DownloaderTest, JobRemovesItsKeptBytesWhenItGoes)
{
    StreamRecord rec = Record("/cut", out.File("clip.mp4"));
    {
        Downloader job;
        RunJob(job, rec);
        ASSERT_EQ(Failed, job.GetState());
        EXPECT_TRUE(wxFileExists(rec.tempPath)) << "kept for a retry";
    }
    EXPECT_FALSE(wxFileExists(rec.tempPath));
}

TEST_F(DownloaderTest, MissingOutputFolderIsAFailureNotDone)
{
    Downloader job;
    const StreamRecord end = RunJob(job, Record("/file", out.File("no/such/folder/clip.mp4")));
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_TRUE(end.statusText.StartsWith("Error: ")) << end.statusText;
}

TEST_F(DownloaderTest, UnopenableTempFileEndsWithItsError)
{
    Downloader job;
    StreamRecord rec = Record("/file", out.File("clip.mp4"));
    rec.tempPath = temp.File("no/such/dir/NK-x");
    const StreamRecord end = RunJob(job, rec);
    EXPECT_EQ("Error: can't create tmp file!", end.statusText);
}

TEST_F(DownloaderTest, CancelInTheBodyKeepsTheBytesAndRetryContinuesFromThem)
{
    paceMs = 10;
    Downloader job;
    const StreamRecord rec = Record("/ranged", out.File("clip.mp4"));
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(PollUntil([&] { return job.GetProgress().received > 100000; }, kJobLimitMs));
    const wxLongLong asked = wxGetLocalTimeMillis();
    job.Cancel();
    ASSERT_TRUE(WaitUntilEnded(job, 1000)) << "a Cancel ends the transfer within a second";
    EXPECT_LT((wxGetLocalTimeMillis() - asked).GetValue(), 1000);
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_TRUE(job.WasCancelled());
    EXPECT_EQ("Cancelled", job.GetRecord().statusText);
    EXPECT_FALSE(wxFileExists(rec.outputPath));
    const size_t kept = ReadBytes(rec.tempPath).size();
    EXPECT_GT(kept, 100000u);
    EXPECT_LT(kept, ranged.size());

    paceMs = 0;
    ASSERT_TRUE(job.Retry());
    EXPECT_EQ(Busy, job.GetState());
    EXPECT_EQ("Downloading", job.GetRecord().statusText);
    ASSERT_TRUE(WaitUntilEnded(job));
    EXPECT_EQ(Done, job.GetState());
    EXPECT_FALSE(job.WasCancelled());
    EXPECT_TRUE(ReadBytes(rec.outputPath) == ranged) << "byte for byte the whole file";
    const std::vector<RangeRequest> seen = Requests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("", seen[0].range);
    EXPECT_EQ("bytes=" + std::to_string(kept) + "-", seen[1].range);
    EXPECT_EQ(etag, seen[1].ifRange);
    EXPECT_FALSE(job.Retry()) << "a finished job is not run again";
}

TEST_F(DownloaderTest, RetryStartsOverWhenTheServerSendsTheWholeFile)
{
    // One server that ignores ranges, one whose file changed since the first response.
    for (const bool changed : {false, true})
    {
        SCOPED_TRACE(changed ? "changed file" : "ranges ignored");
        ForgetRequests();
        ServeRangedFile(MakeBody(600000), "\"v1\"");
        cutsLeft = 1;
        TransferLimits limits;
        limits.resumePausesMs.clear();
        Downloader::SetTransferLimits(limits);
        Downloader job;
        const StreamRecord rec = Record("/ranged", out.File("clip.mp4"));
        RunJob(job, rec);
        ASSERT_EQ(Failed, job.GetState());
        ignoreRanges = !changed;
        if (changed)
            ServeRangedFile("changed" + MakeBody(500000), "\"v2\"");
        ASSERT_TRUE(job.Retry());
        ASSERT_TRUE(WaitUntilEnded(job));
        EXPECT_EQ(Done, job.GetState());
        // The second round's file is beside the first one's.
        EXPECT_TRUE(ReadBytes(job.GetRecord().outputPath) == ranged);
        const std::vector<RangeRequest> seen = Requests();
        ASSERT_EQ(2u, seen.size());
        EXPECT_NE("", seen[1].range);
        EXPECT_EQ("\"v1\"", seen[1].ifRange);
    }
}

TEST_F(DownloaderTest, ConnectionCutOnceIsResumedWithoutTheUser)
{
    cutsLeft = 1;
    Downloader job;
    const StreamRecord rec = Record("/ranged", out.File("clip.mp4"));
    RunJob(job, rec);
    EXPECT_EQ(Done, job.GetState());
    const std::string got = ReadBytes(rec.outputPath);
    EXPECT_EQ(ranged.size(), got.size());
    EXPECT_TRUE(got == ranged);
    const std::vector<RangeRequest> seen = Requests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(0u, seen[1].range.rfind("bytes=", 0)) << seen[1].range;
    EXPECT_NE("bytes=0-", seen[1].range);
}

TEST_F(DownloaderTest, ConnectionCutEveryTimeFailsAfterThreeResumes)
{
    cutsLeft = 100;
    Downloader job;
    const StreamRecord end = RunJob(job, Record("/ranged", out.File("clip.mp4")));
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_TRUE(end.statusText.StartsWith("Error: ")) << end.statusText;
    EXPECT_EQ(4u, Requests().size()) << "the first request and three resumes";
}

TEST_F(DownloaderTest, HttpErrorIsNotResumed)
{
    std::atomic<int> asked{0};
    server.Routes().Get("/gone",
                        [&](const httplib::Request&, httplib::Response& res)
                        {
                            ++asked;
                            res.status = 503;
                        });
    Downloader job;
    RunJob(job, Record("/gone", out.File("clip.mp4")));
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_EQ(1, asked.load());
}

TEST_F(DownloaderTest, ResumePausesFollowTheSchedule)
{
    TransferLimits limits;
    limits.resumePausesMs = {100, 200, 400};
    Downloader::SetTransferLimits(limits);
    cutsLeft = 100;
    Downloader job;
    const wxLongLong started = wxGetLocalTimeMillis();
    RunJob(job, Record("/ranged", out.File("clip.mp4")));
    EXPECT_EQ(4u, Requests().size());
    EXPECT_GE((wxGetLocalTimeMillis() - started).GetValue(), 700);
    EXPECT_EQ((std::vector<long>{1000, 2000, 4000}), TransferLimits().resumePausesMs);
}

namespace
{
constexpr long kEmptyReplyPauseMs = 10;
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
        limits.resumePausesMs.assign(kResumes, kEmptyReplyPauseMs);
        Downloader::SetTransferLimits(limits);
    }
    void TearDown() override { Downloader::SetTransferLimits(TransferLimits()); }

    // Counted by the server's thread, so it outlives the server.
    std::atomic<int> requests{0};
    TestHttpServer server;
    TempDir temp;
};
} // namespace

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

TEST_F(DownloaderTest, JournalFollowsTheJobAndTheNextRunContinuesItWithARangeByteForByte)
{
    DownloadJournal journal;
    wxString problem;
    ASSERT_TRUE(journal.Open(temp.File("journal.sqlite"), problem)) << problem;
    paceMs = 10;
    const StreamRecord rec = Record("/ranged", out.File("clip.mp4"));
    JournalEntry entry = JournalEntry::ForRecord(rec);
    entry.id = journal.Add(entry);
    ASSERT_NE(0, entry.id);
    {
        Downloader job;
        ASSERT_TRUE(job.SetRecord(rec));
        job.Remember(&journal, entry);
        job.start();
        ASSERT_TRUE(PollUntil([&] { return job.GetProgress().received > 100000; }, kJobLimitMs));
        // The job goes with its run, as on a quit.
    }
    ASSERT_TRUE(wxFileExists(rec.tempPath)) << "an interrupted download keeps its bytes";
    const size_t kept = ReadBytes(rec.tempPath).size();

    RememberedDownloads earlier;
    earlier.Load(journal);
    ASSERT_EQ(1u, earlier.Count());
    EXPECT_EQ(RememberedKind::Interrupted, earlier.Kind(0));
    EXPECT_EQ(etag, earlier.Entry(0).validator) << "the validator of the kept bytes";
    EXPECT_EQ(std::int64_t(kept), earlier.Entry(0).received);
    EXPECT_NE("", earlier.Entry(0).fileId);
    const RememberedDownloads::Retry retry =
        RememberedDownloads::MakeRetry(earlier.Entry(0), nullptr);
    paceMs = 0;
    Downloader next;
    ASSERT_TRUE(next.SetRecord(retry.record));
    next.ResumeFrom(retry.keptBytes, retry.validator);
    next.Remember(&journal, earlier.Entry(0));
    next.start();
    ASSERT_TRUE(WaitUntilEnded(next));
    ASSERT_EQ(Done, next.GetState()) << next.GetRecord().statusText;
    EXPECT_TRUE(ReadBytes(rec.outputPath) == ranged) << "byte for byte the whole file";
    const std::vector<RangeRequest> seen = Requests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("bytes=" + std::to_string(kept) + "-", seen[1].range);
    EXPECT_EQ(etag, seen[1].ifRange);
    EXPECT_FALSE(wxFileExists(rec.tempPath)) << "the partial file goes once the file is whole";
    const std::vector<JournalEntry> stored = journal.Load();
    ASSERT_EQ(1u, stored.size());
    EXPECT_EQ(JournalState::Done, stored[0].state);
    EXPECT_EQ(rec.outputPath, stored[0].outputPath);
    EXPECT_EQ("", stored[0].tempPath);
    EXPECT_EQ(std::int64_t(ranged.size()), stored[0].received);
}

TEST_F(DownloaderTest, JournalKeepsFailedAndCancelledDownloadsWithTheirBytes)
{
    DownloadJournal journal;
    wxString problem;
    ASSERT_TRUE(journal.Open(temp.File("journal.sqlite"), problem)) << problem;
    const struct
    {
        const char* path;
        bool cancel;
        JournalState state;
        const char* status;
    } cases[] = {
        {"/missing", false, JournalState::Failed, "Error: HTTP 404 Not Found"},
        {"/stall", true, JournalState::Cancelled, "Cancelled"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        const StreamRecord rec = Record(c.path, out.File("clip.mp4"));
        JournalEntry entry;
        entry.tempPath = rec.tempPath;
        entry.id = journal.Add(entry);
        {
            Downloader job;
            ASSERT_TRUE(job.SetRecord(rec));
            job.Remember(&journal, entry);
            job.start();
            if (c.cancel)
            {
                ASSERT_TRUE(PollUntil([&] { return job.GetProgress().received > 0; }, kJobLimitMs));
                job.Cancel();
            }
            ASSERT_TRUE(WaitUntilEnded(job));
            EXPECT_TRUE(job.JournalHoldsTempFile());
        }
        EXPECT_TRUE(wxFileExists(rec.tempPath)) << "kept for a retry in a later run";
        const std::vector<JournalEntry> stored = journal.Load();
        ASSERT_FALSE(stored.empty());
        EXPECT_EQ(c.state, stored.back().state);
        EXPECT_EQ(c.status, stored.back().statusText);
        EXPECT_EQ(rec.tempPath, stored.back().tempPath);
    }
}
