#include "support/GuiTestSupport.h"
#include "support/SilentLookup.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "download/TempFileRegistry.h"
#include "ui/NorvikFrame.h"

#include <wx/weakref.h>

namespace
{
// Gone from the screen before QuitNow returns; the whole window within this.
constexpr long kQuitLimitMs = 2000;
constexpr long kWaitLimitMs = 10000;

class QuitTest : public testing::Test
{
protected:
    void SetUp() override
    {
        server.AddStalledStream("/slow", "video/mp4", "first bytes");
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(TempFileRegistry::Open(runs.Path()));
        SilentLookup::Arm();
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        frame->tickTimer.Stop();
    }
    void TearDown() override
    {
        SilentLookup::Release();
        delete frame.get();
        server.Stop();
        TempFileRegistry::Close();
    }

    StreamRecord Record(const wxString& url, const wxString& name)
    {
        StreamRecord rec;
        rec.title = name;
        rec.type = "video/mp4";
        rec.url = url;
        rec.outputPath = out.File(name + ".mp4");
        rec.tempPath = TempFileRegistry::CreateTempFile(temp.File("NK-"));
        return rec;
    }

    void Start(int job, const StreamRecord& rec)
    {
        ASSERT_TRUE(frame->downloaders[job].SetRecord(rec));
        frame->downloaders[job].start();
    }

    TestHttpServer server;
    TempDir runs;
    TempDir temp;
    TempDir out;
    wxWeakRef<NorvikFrame> frame;
};
} // namespace

TEST_F(QuitTest, WindowGoesAtOnceAndJobsInAnyPhaseLeaveNothing)
{
    // One job in a name lookup that never answers, one receiving its body, one cancelled
    // earlier with its bytes kept for a retry, and a listed format nobody downloads.
    Start(0, Record(wxString("http://") + SilentLookup::kHost + "/clip.mp4", "lookup"));
    Start(1, Record(server.Url("/slow"), "body"));
    const StreamRecord kept = Record(server.Url("/slow"), "kept");
    Start(2, kept);
    frame->records[0] = Record(server.Url("/slow"), "unused");
    frame->recordCount = 1;
    ASSERT_TRUE(WaitFor([&] { return SilentLookup::Entered() > 0; }, kWaitLimitMs));
    ASSERT_TRUE(
        WaitFor([&] { return frame->downloaders[1].GetProgress().received > 0; }, kWaitLimitMs));
    ASSERT_TRUE(
        WaitFor([&] { return frame->downloaders[2].GetProgress().received > 0; }, kWaitLimitMs));
    frame->downloaders[2].RequestStop(StopMode::KeepReceived);
    frame->downloaders[2].Join();
    ASSERT_TRUE(wxFileExists(kept.tempPath)) << "a cancel keeps what was received";
    ASSERT_EQ(4, CountFiles(temp.Path()));

    const wxLongLong asked = wxGetLocalTimeMillis();
    frame->QuitNow();
    EXPECT_FALSE(frame->IsShown());
    EXPECT_FALSE(frame->trayIcon.IsIconInstalled());
    EXPECT_TRUE(WaitFor([&] { return !frame; }, kWaitLimitMs));
    EXPECT_LT((wxGetLocalTimeMillis() - asked).GetValue(), kQuitLimitMs);
    EXPECT_EQ(0, CountFiles(temp.Path())) << "temporary files left behind";
    EXPECT_EQ(0, CountFiles(out.Path())) << "partial outputs left behind";
}
