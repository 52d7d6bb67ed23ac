#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "ui/NorvikFrame.h"

#include <wx/listbox.h>
#include <wx/msgdlg.h>

#include <atomic>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
class DownloadActionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // A stream that sends a little and then waits: its download stays Busy.
        server.Routes().Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(1000000, "video/x-flv",
                                     [this](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0)
                                             return sink.write("FLV", 3);
                                         while (!stopping.load())
                                             std::this_thread::sleep_for(
                                                 std::chrono::milliseconds(20));
                                         return false;
                                     });
        });
        ASSERT_TRUE(server.Start());
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        frame->tickTimer.Stop();
    }
    void TearDown() override
    {
        stopping.store(true);
        delete frame;
        server.Stop();
    }

    // Puts records into the table as a lookup would and lists them.
    void List(std::initializer_list<StreamRecord> recs)
    {
        frame->formatsList->Clear();
        frame->recordCount = 0;
        for (const StreamRecord& rec : recs)
        {
            frame->records[frame->recordCount++] = rec;
            frame->formatsList->Append(rec.type + " " + rec.quality);
        }
        frame->formatsList->SetSelection(0);
    }

    StreamRecord Record(const wxString& type, const wxString& output, const std::string& path)
    {
        StreamRecord rec;
        rec.title = "Slow clip";
        rec.type = type;
        rec.quality = "small";
        rec.url = server.Url(path);
        rec.outputPath = out.File(output);
        rec.tempPath = wxFileName::CreateTempFileName(temp.File("NK-"));
        return rec;
    }

    void ClickDownload(int line)
    {
        frame->formatsList->SetSelection(line);
        wxCommandEvent click(wxEVT_BUTTON, NorvikFrame::ID_BUTTON1);
        frame->OnDownload(click);
    }

    std::atomic<bool> stopping{false};
    TestHttpServer server;
    TempDir temp;
    TempDir out;
    NorvikFrame* frame = nullptr;
};
} // namespace

TEST_F(DownloadActionTest, RunningDuplicateIsRefusedWithTheMessage)
{
    List({Record("video/x-flv", "clip.flv", "/slow")});
    ClickDownload(0);
    EXPECT_EQ(Busy, frame->downloaders[0].GetState());
    EXPECT_TRUE(frame->records[0].tempPath.empty()) << "the job owns the temporary file now";
    wxTEST_DIALOG(ClickDownload(0), wxExpectModal<wxMessageDialog>(wxID_OK).Describe(
                                        "You are already downloading this file."));
    EXPECT_EQ(Idle, frame->downloaders[1].GetState());
}

TEST_F(DownloadActionTest, DownloadAfterAThreadFailedToStartStartsADownload)
{
    // A stack of 4 GiB, while the process may grow by 1 GiB only: the system cannot make the
    // thread (and no stack of an earlier thread is big enough to be reused). The margin
    // leaves the toolkit's own threads room for what they may allocate meanwhile.
    constexpr unsigned kHugeStack = ~0u;
    constexpr rlim_t kAddressSpaceMargin = rlim_t(1) << 30;
    List({Record("video/x-flv", "clip.flv", "/slow")});
    {
        rlimit saved;
        ASSERT_EQ(0, getrlimit(RLIMIT_AS, &saved));
        std::ifstream statm("/proc/self/statm");
        rlim_t pages = 0;
        ASSERT_TRUE(statm >> pages);
        rlimit tight = saved;
        tight.rlim_cur = pages * rlim_t(sysconf(_SC_PAGESIZE)) + kAddressSpaceMargin;
        ASSERT_EQ(0, setrlimit(RLIMIT_AS, &tight));
        Downloader::SetThreadStackSize(kHugeStack);
        ClickDownload(0);
        Downloader::SetThreadStackSize(0);
        ASSERT_EQ(0, setrlimit(RLIMIT_AS, &saved));
    }
    ASSERT_EQ(Idle, frame->downloaders[0].GetState()) << "the thread was to fail to start";
    EXPECT_FALSE(frame->records[0].tempPath.empty()) << "the line keeps its temporary file";

    ClickDownload(0);
    EXPECT_EQ(Busy, frame->downloaders[0].GetState());
    EXPECT_TRUE(WaitFor([&] { return frame->downloaders[0].GetProgress().received > 0; }, 10000))
        << "the download runs";
}

TEST_F(DownloadActionTest, Mp3EntryAndItsFlvRunSideBySide)
{
    List({Record("video/x-flv", "clip.flv", "/slow"), Record("mp3", "clip.mp3", "/slow")});
    ClickDownload(0);
    ClickDownload(1);
    EXPECT_EQ(Busy, frame->downloaders[0].GetState());
    EXPECT_EQ(Busy, frame->downloaders[1].GetState());
    EXPECT_NE(frame->downloaders[0].GetRecord().tempPath, frame->downloaders[1].GetRecord().tempPath);
}

TEST_F(DownloadActionTest, EndedJobsDoNotCountAndTheListShowsEveryStartedJob)
{
    // Nothing listens on port 1: these downloads fail at once.
    StreamRecord failing = Record("video/mp4", "clip.mp4", "/x");
    failing.url = "http://127.0.0.1:1/x";
    List({failing});
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Failed; }, 10000));
    ClickDownload(0);
    EXPECT_NE(Idle, frame->downloaders[1].GetState()) << "an ended job is no duplicate";
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[1].GetState() == Failed; }, 10000));
    frame->RefreshDownloadsList();
    ASSERT_EQ(2u, frame->downloadsList->GetCount());
    const StreamRecord ended = frame->downloaders[0].GetRecord();
    EXPECT_EQ("[" + ended.statusText + "] video/mp4 'Slow clip' > " + out.File("clip.mp4"),
              frame->downloadsList->GetString(0));
    EXPECT_TRUE(ended.statusText.StartsWith("Error: "));
}

TEST_F(DownloadActionTest, RunningJobLineShowsItsProgress)
{
    List({Record("video/x-flv", "clip.flv", "/slow")});
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetProgress().received > 0; }, 10000));
    frame->RefreshDownloadsList();
    ASSERT_EQ(1u, frame->downloadsList->GetCount());
    const wxString line = frame->downloadsList->GetString(0);
    EXPECT_TRUE(line.StartsWith("[Downloading] video/x-flv 'Slow clip' > ")) << line;
    EXPECT_TRUE(line.Contains("(0%, 0.0 of 1.0 MB, ")) << line;
}

TEST_F(DownloadActionTest, AllJobsUsedStartsNothingMore)
{
    StreamRecord failing = Record("video/mp4", "clip.mp4", "/x");
    failing.url = "http://127.0.0.1:1/x";
    for (Downloader& job : frame->downloaders)
    {
        job.SetRecord(failing);
        job.start();
    }
    for (Downloader& job : frame->downloaders)
        ASSERT_TRUE(WaitFor([&] { return job.GetState() == Failed; }, 10000));
    List({failing});
    ClickDownload(0);
    for (Downloader& job : frame->downloaders)
        EXPECT_EQ(Failed, job.GetState());
}

TEST_F(DownloadActionTest, QuitWhileDownloadingEndsAtOnceAndLeavesNoPartialFiles)
{
    List({Record("video/x-flv", "clip.flv", "/slow"), Record("mp3", "clip.mp3", "/slow")});
    ClickDownload(0);
    ClickDownload(1);
    const wxString temp0 = frame->downloaders[0].GetRecord().tempPath;
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[1].GetProgress().received > 0; }, 10000));
    const wxLongLong started = wxGetLocalTimeMillis();
    delete frame;
    frame = nullptr;
    EXPECT_LT((wxGetLocalTimeMillis() - started).GetValue(), 2000);
    EXPECT_FALSE(wxFileExists(temp0));
    wxArrayString left;
    EXPECT_EQ(0u, wxDir::GetAllFiles(out.Path(), &left, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN));
    wxArrayString temps;
    EXPECT_EQ(0u, wxDir::GetAllFiles(temp.Path(), &temps, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN));
}
