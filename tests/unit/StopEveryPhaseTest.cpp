// A stop request ends a download job in each of its phases, quickly and without litter.
#include "download/Downloader.h"
#include "download/MoveIntoPlace.h"
#include "download/Mp3Converter.h"
#include "support/FlvBuilder.h"
#include "support/PollUntil.h"
#include "support/SilentLookup.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/filename.h>
#include <wx/time.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
// A stopped job must be over within about a second; the margin is for a loaded machine.
constexpr long kStopLimitMs = 1500;
// How long a phase is given to begin before the stop is asked for.
constexpr long kPhaseSettleMs = 300;
constexpr long kWaitLimitMs = 10000;

// A loopback port whose connections never complete: the one place in its accept queue is
// taken, so the kernel drops every further handshake.
class FullListener
{
public:
    FullListener()
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            listen(listener, 0) != 0)
            return;
        port = ntohs(address.sin_port);
        filler = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            port = 0;
    }
    ~FullListener()
    {
        close(filler);
        close(listener);
    }
    int Port() const { return port; }

private:
    int listener = -1;
    int filler = -1;
    int port = 0;
};

class StopEveryPhaseTest : public testing::Test
{
protected:
    void TearDown() override { SilentLookup::Release(); }

    StreamRecord Record(const wxString& url, const wxString& type = "video/mp4")
    {
        StreamRecord rec;
        rec.title = "clip";
        rec.url = url;
        rec.type = type;
        rec.outputPath = out.File("clip.mp4");
        rec.tempPath = wxFileName::CreateTempFileName(temp.File("NK-"));
        return rec;
    }

    // Starts a job, lets it reach the phase, stops it and checks it ended at once, clean.
    void StopAfterSettling(const StreamRecord& rec, const std::function<bool()>& inPhase)
    {
        Downloader job;
        ASSERT_TRUE(job.SetRecord(rec));
        job.start();
        ASSERT_TRUE(PollUntil(inPhase, kWaitLimitMs));
        wxMilliSleep(kPhaseSettleMs);
        ASSERT_EQ(Busy, job.GetState()) << "the phase ended before the stop: " << rec.url;
        const wxLongLong asked = wxGetLocalTimeMillis();
        job.RequestStop();
        job.Join();
        EXPECT_LT((wxGetLocalTimeMillis() - asked).GetValue(), kStopLimitMs) << rec.url;
        EXPECT_EQ(Failed, job.GetState());
        EXPECT_FALSE(wxFileExists(rec.tempPath)) << rec.url;
        EXPECT_EQ(0, CountFiles(out.Path())) << rec.url;
    }

    TempDir temp;
    TempDir out;
};
} // namespace

TEST_F(StopEveryPhaseTest, NameLookupThatNeverAnswers)
{
    SilentLookup::Arm();
    StopAfterSettling(Record(wxString("http://") + SilentLookup::kHost + "/clip.mp4"),
                      [] { return SilentLookup::Entered() > 0; });
}

TEST_F(StopEveryPhaseTest, ConnectThatNeverCompletes)
{
    FullListener full;
    ASSERT_NE(0, full.Port());
    StopAfterSettling(Record(wxString::Format("http://127.0.0.1:%d/clip.mp4", full.Port())),
                      [] { return true; });
}

TEST_F(StopEveryPhaseTest, HeadersThatNeverCome)
{
    // Declared before the server, so they outlive its thread, which reads them until it ends.
    std::atomic<bool> asked{false};
    std::atomic<bool> ending{false};
    TestHttpServer server;
    server.Routes().Get("/clip.mp4",
                        [&](const httplib::Request&, httplib::Response& res)
                        {
                            asked.store(true);
                            while (!ending.load())
                                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                            res.set_content("late", "video/mp4");
                        });
    ASSERT_TRUE(server.Start());
    StopAfterSettling(Record(wxString(server.Url("/clip.mp4"))), [&] { return asked.load(); });
    ending.store(true);
}

TEST_F(StopEveryPhaseTest, KeepReceivedLeavesTheBytesInTheTemporaryFile)
{
    // The server's own stalled stream holds copies of what it sends: the server thread may
    // still be inside the route after this test's locals are gone.
    TestHttpServer server;
    const std::string start(5000, 'k');
    server.AddStalledStream("/clip.mp4", "video/mp4", start);
    ASSERT_TRUE(server.Start());
    const StreamRecord rec = Record(wxString(server.Url("/clip.mp4")));
    Downloader job;
    ASSERT_TRUE(job.SetRecord(rec));
    job.start();
    ASSERT_TRUE(PollUntil([&] { return job.GetProgress().received >= std::int64_t(start.size()); },
                          kWaitLimitMs));
    job.RequestStop(StopMode::KeepReceived);
    job.Join();
    EXPECT_EQ(Failed, job.GetState());
    EXPECT_EQ(start, ReadBytes(rec.tempPath));
    EXPECT_EQ(rec.tempPath, job.GetRecord().tempPath);
    EXPECT_EQ(0, CountFiles(out.Path()));
}

TEST_F(StopEveryPhaseTest, ConversionAndCopyLookAtTheStopRequest)
{
    FlvBuilder flv;
    for (int i = 0; i < 50; ++i)
        flv.Audio(std::string(1000, char('a' + i % 26)));
    const wxString source = temp.File("video.flv");
    ASSERT_TRUE(WriteBytes(source, flv.Bytes()));
    const wxString earlier = "the file from before";
    const wxString output = out.File("song.mp3");
    ASSERT_TRUE(WriteFileText(output, earlier));

    std::atomic<bool> stop{false};
    ASSERT_TRUE(ConvertToMp3(source, out.File("whole.mp3"), &stop)) << "the source converts";
    ASSERT_TRUE(wxRemoveFile(out.File("whole.mp3")));
    stop.store(true);
    EXPECT_FALSE(ConvertToMp3(source, output, &stop));
    EXPECT_EQ(earlier, ReadFileText(output));

    wxString error;
    EXPECT_FALSE(CopyIntoPlace(source, output, error, &stop));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(earlier, ReadFileText(output));
    EXPECT_EQ(flv.Bytes(), ReadBytes(source)) << "a stopped copy leaves its source";
    EXPECT_EQ(1, CountFiles(out.Path())) << "no partial output";

    stop.store(false);
    wxString placed;
    EXPECT_TRUE(CopyIntoPlace(source, output, error, &stop, &placed));
    EXPECT_EQ(flv.Bytes(), ReadBytes(placed));
    EXPECT_EQ(earlier, ReadFileText(output)) << "the copy takes a free name";
}
