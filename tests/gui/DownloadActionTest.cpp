#include "support/CountingLog.h"
#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "config/AppConfig.h"
#include "download/TempFileRegistry.h"
#include "ui/NorvikFrame.h"

#include <gtk/gtk.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/uiaction.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
class DownloadActionTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // A download of it stays Busy.
        server.AddStalledStream("/slow", "video/x-flv", "FLV");
        server.Routes().Get("/small", [](const httplib::Request&, httplib::Response& res)
                            { res.set_content(std::string(5000, 'v'), "video/mp4"); });
        server.Routes().Get("/resumable",
                            [this](const httplib::Request& req, httplib::Response& res)
                            { ServeResumable(req, res); });
        ASSERT_TRUE(server.Start());
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        frame->tickTimer.Stop();
    }
    void TearDown() override
    {
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

    // Labels of the menu that the downloads list pops up, read while it shows and then closed.
    std::vector<wxString> MenuFor(const std::function<void()>& popUp)
    {
        std::vector<wxString> labels;
        bool opened = false;
        auto onOpen = [&](wxMenuEvent& event)
        {
            wxMenu* menu = event.GetMenu();
            if (!menu || opened)
                return;
            opened = true;
            for (wxMenuItem* item : menu->GetMenuItems())
                labels.push_back(item->GetItemLabelText());
            GtkWidget* native = menu->m_menu;
            wxTheApp->CallAfter([native] { gtk_menu_popdown(GTK_MENU(native)); });
        };
        frame->downloadsList->Bind(wxEVT_MENU_OPEN, onOpen);
        popUp();
        EXPECT_TRUE(WaitFor([&] { return opened; }, 5000)) << "no menu came up";
        frame->downloadsList->Unbind(wxEVT_MENU_OPEN, onOpen);
        return labels;
    }

    // A point inside the given line of the downloads list, in its own coordinates.
    wxPoint PointOnLine(int line)
    {
        const wxSize size = frame->downloadsList->GetClientSize();
        for (int y = 0; y < size.y; ++y)
            if (frame->downloadsList->HitTest(wxPoint(size.x / 2, y)) == line)
                return wxPoint(size.x / 2, y + 2);
        ADD_FAILURE() << "line " << line << " not on screen";
        return wxPoint();
    }

    // One job of each kind: running, failed, done.
    void StartOneOfEachState()
    {
        List({Record("video/x-flv", "slow.flv", "/slow"), Record("video/mp4", "bad.mp4", "/x"),
              Record("video/mp4", "done.mp4", "/small")});
        frame->records[1].url = "http://127.0.0.1:1/x";
        ClickDownload(0);
        ClickDownload(1);
        ClickDownload(2);
        ASSERT_TRUE(WaitFor(
            [&]
            {
                return frame->downloaders[0].GetProgress().received > 0 &&
                       frame->downloaders[1].GetState() == Failed &&
                       frame->downloaders[2].GetState() == Done;
            },
            10000));
        frame->RefreshDownloadsList();
    }

    // A file with a strong validator whose ranges are honoured when If-Range matches. While
    // holdFirst is set, a response sends the first half and then nothing until the server goes.
    void ServeResumable(const httplib::Request& req, httplib::Response& res)
    {
        // The server library would cut the range out of this answer a second time.
        const_cast<httplib::Request&>(req).ranges.clear();
        const std::string range = req.get_header_value("Range");
        size_t from = 0;
        if (range.rfind("bytes=", 0) == 0 && req.get_header_value("If-Range") == kResumableTag)
            from = std::stoul(range.substr(6));
        {
            std::lock_guard<std::mutex> guard(rangesMutex);
            ranges.push_back(range);
        }
        res.set_header("ETag", kResumableTag);
        if (from > 0)
        {
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(from) + "-" +
                                                std::to_string(resumable.size() - 1) + "/" +
                                                std::to_string(resumable.size()));
        }
        const bool hold = holdFirst.load();
        res.set_content_provider(
            resumable.size() - from, "video/mp4",
            [this, from, hold](size_t offset, size_t, httplib::DataSink& sink)
            {
                const size_t half = resumable.size() / 2;
                if (hold && offset > 0)
                {
                    while (!server.Stopping())
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return false;
                }
                const size_t length = hold ? half : resumable.size() - from - offset;
                return sink.write(resumable.data() + from + offset, length);
            });
    }
    std::vector<std::string> Ranges()
    {
        std::lock_guard<std::mutex> guard(rangesMutex);
        return ranges;
    }

    static constexpr const char* kResumableTag = "\"r1\"";
    std::string resumable = std::string(400000, 'r') + std::string(400000, 's');
    std::atomic<bool> holdFirst{false};
    std::mutex rangesMutex;
    std::vector<std::string> ranges;
    TestHttpServer server;
    TempDir temp;
    TempDir out;
    NorvikFrame* frame = nullptr;
};

// Tests that drive the real pointer and keyboard. They run on a display of their own (see
// tests/CMakeLists.txt), where no other test moves the pointer or takes the focus.
class DownloadListInputTest : public DownloadActionTest
{
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

TEST_F(DownloadActionTest, FinishedDownloadOfTheSameLineIsRefusedWithTheMessage)
{
    List({Record("video/mp4", "clip.mp4", "/small")});
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Done; }, 10000));
    wxTEST_DIALOG(ClickDownload(0), wxExpectModal<wxMessageDialog>(wxID_OK).Describe(
                                        "You are already downloading this file."));
    EXPECT_EQ(Idle, frame->downloaders[1].GetState());
}

// Both formats are proposed the same name at lookup; the user's own file holds it already.
TEST_F(DownloadActionTest, TwoFormatsWithOneContainerGiveTwoFilesEachLineShowingItsOwn)
{
    server.Routes().Get("/other", [](const httplib::Request&, httplib::Response& res)
                        { res.set_content(std::string(3000, 'o'), "video/mp4"); });
    ASSERT_TRUE(WriteFileText(out.File("clip.mp4"), "the user's own"));
    StreamRecord high = Record("video/mp4", "clip.mp4", "/small");
    StreamRecord low = Record("video/mp4", "clip.mp4", "/other");
    for (StreamRecord* rec : {&high, &low})
    {
        rec->title = "clip";
        rec->extension = ".mp4";
    }
    low.quality = "low";
    List({high, low});
    ClickDownload(0);
    ClickDownload(1);
    ASSERT_TRUE(WaitFor(
        [&] {
            return frame->downloaders[0].GetState() == Done &&
                   frame->downloaders[1].GetState() == Done;
        },
        10000));
    frame->RefreshDownloadsList();
    std::set<wxString> contents;
    std::set<wxString> paths;
    for (unsigned job = 0; job < 2; ++job)
    {
        const wxString path = frame->downloaders[job].GetRecord().outputPath;
        paths.insert(path);
        contents.insert(ReadFileText(path));
        EXPECT_TRUE(frame->downloadsList->GetString(job).EndsWith("> " + path))
            << frame->downloadsList->GetString(job);
    }
    EXPECT_EQ((std::set<wxString>{out.File("clip-1.mp4"), out.File("clip-2.mp4")}), paths);
    EXPECT_EQ((std::set<wxString>{wxString(5000, 'v'), wxString(3000, 'o')}), contents);
    EXPECT_EQ("the user's own", ReadFileText(out.File("clip.mp4")));
}

TEST_F(DownloadActionTest, NewDownloadIsSelectedAndScrolledIntoView)
{
    // More ended jobs than the list shows lines at the window's size.
    constexpr int kEndedJobs = 20;
    StreamRecord failing = Record("video/mp4", "clip.mp4", "/x");
    failing.url = "http://127.0.0.1:1/x";
    for (int i = 0; i < kEndedJobs; ++i)
    {
        frame->downloaders[i].SetRecord(failing);
        frame->downloaders[i].start();
    }
    for (int i = 0; i < kEndedJobs; ++i)
        ASSERT_TRUE(WaitFor([&] { return frame->downloaders[i].GetState() == Failed; }, 10000));
    frame->RefreshDownloadsList();
    frame->downloadsList->SetSelection(0);
    frame->downloadsList->EnsureVisible(0);
    RunEventsFor(100);
    ASSERT_LT(frame->downloadsList->GetCountPerPage(), kEndedJobs) << "the list shows them all";

    List({Record("video/x-flv", "slow.flv", "/slow")});
    ClickDownload(0);
    RunEventsFor(100);
    EXPECT_EQ(kEndedJobs, frame->downloadsList->GetSelection());
    const int top = frame->downloadsList->GetTopItem();
    EXPECT_LE(top, kEndedJobs);
    EXPECT_GT(top + frame->downloadsList->GetCountPerPage(), kEndedJobs) << "top line " << top;
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
    EXPECT_NE(frame->downloaders[0].GetRecord().tempPath,
              frame->downloaders[1].GetRecord().tempPath);
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
    // The 257th download is refused in words, not in silence.
    wxString told;
    wxTEST_DIALOG(ClickDownload(0), ModalThen<wxMessageDialog>([&](wxMessageDialog* box)
                                                               { told = box->GetMessage(); }));
    EXPECT_EQ("All 256 downloads of this session have been used. Quit Norvik and start it again "
              "to download more.",
              told);
    for (Downloader& job : frame->downloaders)
        EXPECT_EQ(Failed, job.GetState());
}

TEST_F(DownloadActionTest, QuitWhileDownloadingEndsAtOnceAndKeepsOnlyRememberedPartialFiles)
{
    // Twice: with the journal, which keeps the interrupted downloads' bytes for the next run,
    // and without one, when the run leaves nothing behind.
    const wxString dataHome = temp.File("data");
    std::unique_ptr<ScopedEnv> noJournal;
    for (const bool withJournal : {true, false})
    {
        SCOPED_TRACE(withJournal);
        if (!withJournal)
        {
            // A file where the journal's folder would be: no journal can open.
            ASSERT_TRUE(WriteFileText(dataHome, "in the way"));
            noJournal = std::make_unique<ScopedEnv>("XDG_DATA_HOME", &dataHome);
            delete frame;
            // Said in the log on the standard error, never in a box.
            CountingLog boxes;
            frame = new NorvikFrame(nullptr);
            frame->tickTimer.Stop();
            ASSERT_FALSE(frame->journal.IsOpen());
            EXPECT_EQ(0, boxes.Count());
        }
        List({Record("video/x-flv", "clip.flv", "/slow"), Record("mp3", "clip.mp3", "/slow")});
        ClickDownload(0);
        ClickDownload(1);
        const wxString temp0 = frame->downloaders[0].GetRecord().tempPath;
        const wxString temp1 = frame->downloaders[1].GetRecord().tempPath;
        ASSERT_TRUE(
            WaitFor([&] { return frame->downloaders[1].GetProgress().received > 0; }, 10000));
        const wxLongLong started = wxGetLocalTimeMillis();
        delete frame;
        frame = nullptr;
        EXPECT_LT((wxGetLocalTimeMillis() - started).GetValue(), 2000);
        EXPECT_EQ(withJournal, wxFileExists(temp0));
        EXPECT_EQ(withJournal, wxFileExists(temp1));
        wxArrayString left;
        EXPECT_EQ(0u,
                  wxDir::GetAllFiles(out.Path(), &left, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN));
        frame = new NorvikFrame(nullptr);
        frame->tickTimer.Stop();
        if (withJournal)
        {
            ASSERT_EQ(2u, frame->downloadsList->GetCount());
            EXPECT_EQ("[Interrupted] mp3 'Slow clip' > " + out.File("clip.mp3"),
                      frame->downloadsList->GetString(1));
        }
    }
}

TEST_F(DownloadListInputTest, LineMenuOffersWhatTheJobStateAllows)
{
    StartOneOfEachState();
    // Every ended line can be removed; below a line, the whole list's "Clear finished".
    const std::vector<std::vector<wxString>> expected = {
        {"Cancel", "", "Clear finished"},
        {"Retry", "Remove from list", "", "Clear finished"},
        {"Open", "Show in folder", "Remove from list", "", "Clear finished"}};
    wxUIActionSimulator sim;
    for (int line = 0; line < 3; ++line)
    {
        SCOPED_TRACE(line);
        // Right click on the line.
        const wxPoint at = frame->downloadsList->ClientToScreen(PointOnLine(line));
        EXPECT_EQ(expected[line],
                  MenuFor(
                      [&]
                      {
                          sim.MouseMove(at);
                          // The list has seen the pointer arrive.
                          EXPECT_TRUE(WaitFor([&] { return frame->tooltipLine == line; }, 3000));
                          sim.MouseClick(wxMOUSE_BTN_RIGHT);
                      }));
        RunEventsFor(100);
        EXPECT_EQ(line, frame->downloadsList->GetSelection());
        // Shift+F10 on the selected line.
        frame->downloadsList->SetFocus();
        frame->downloadsList->SetSelection(line);
        EXPECT_EQ(expected[line], MenuFor([&] { sim.Char(WXK_F10, wxMOD_SHIFT); }));
        RunEventsFor(100);
        EXPECT_EQ(expected[line], MenuFor([&] { sim.Char(WXK_MENU); }));
        RunEventsFor(100);
    }
}

TEST_F(DownloadActionTest, CancelAndRetryFromTheMenuKeepTheLine)
{
    List({Record("video/x-flv", "clip.flv", "/slow")});
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetProgress().received > 0; }, 10000));
    frame->menuJob = 0;
    wxCommandEvent cancel(wxEVT_MENU, NorvikFrame::ID_MENU_CANCEL);
    frame->ProcessWindowEvent(cancel);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Failed; }, 1000));
    frame->RefreshDownloadsList();
    EXPECT_TRUE(
        frame->downloadsList->GetString(0).StartsWith("[Cancelled] video/x-flv 'Slow clip'"))
        << frame->downloadsList->GetString(0);
    EXPECT_FALSE(wxFileExists(frame->downloaders[0].GetRecord().outputPath));

    wxCommandEvent retry(wxEVT_MENU, NorvikFrame::ID_MENU_RETRY);
    frame->ProcessWindowEvent(retry);
    EXPECT_EQ(Busy, frame->downloaders[0].GetState());
    ASSERT_EQ(1u, frame->downloadsList->GetCount());
    EXPECT_TRUE(frame->downloadsList->GetString(0).StartsWith("[Downloading] video/x-flv"));
    // While it runs again, a new download of the same file is a duplicate.
    wxTEST_DIALOG(ClickDownload(0), wxExpectModal<wxMessageDialog>(wxID_OK));
}

TEST_F(DownloadActionTest, RetryIsRefusedWhileAnotherJobWritesTheSameFile)
{
    List({Record("video/x-flv", "clip.flv", "/slow")});
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetProgress().received > 0; }, 10000));
    frame->downloaders[0].Cancel();
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Failed; }, 1000));
    ClickDownload(0);
    ASSERT_EQ(Busy, frame->downloaders[1].GetState());
    frame->menuJob = 0;
    wxCommandEvent retry(wxEVT_MENU, NorvikFrame::ID_MENU_RETRY);
    wxTEST_DIALOG(frame->ProcessWindowEvent(retry),
                  wxExpectModal<wxMessageDialog>(wxID_OK).Describe("the duplicate message"));
    EXPECT_EQ(Failed, frame->downloaders[0].GetState());
}

TEST_F(DownloadListInputTest, LineUnderThePointerHasItsFullTextAsTooltip)
{
    StartOneOfEachState();
    wxUIActionSimulator sim;
    for (int line : {2, 1})
    {
        sim.MouseMove(frame->downloadsList->ClientToScreen(PointOnLine(line)));
        ASSERT_TRUE(WaitFor(
            [&]
            {
                return frame->downloadsList->GetToolTipText() ==
                       frame->downloadsList->GetString(unsigned(line));
            },
            3000))
            << line << ": " << frame->downloadsList->GetToolTipText();
    }
}

TEST_F(DownloadActionTest, LinesAreEllipsisedInTheMiddleWithTheirTextKept)
{
    const wxString line =
        "[Downloading] video/mp4 '" + wxString('t', 200) + "' > /v/clip.mp4 (42%)";
    frame->downloadsList->Append(line);
    EXPECT_EQ(line, frame->downloadsList->GetString(0));
    GtkTreeViewColumn* column = gtk_tree_view_get_column(frame->downloadsList->m_treeview, 0);
    ASSERT_TRUE(column);
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
    int middle = 0;
    for (GList* cell = cells; cell; cell = cell->next)
    {
        PangoEllipsizeMode mode = PANGO_ELLIPSIZE_NONE;
        if (GTK_IS_CELL_RENDERER_TEXT(cell->data))
            g_object_get(cell->data, "ellipsize", &mode, nullptr);
        middle += mode == PANGO_ELLIPSIZE_MIDDLE;
    }
    g_list_free(cells);
    EXPECT_EQ(1, middle);
}

TEST_F(DownloadActionTest, DownloadsSurviveARestartWithTheirLinesAndARemovedOneStaysGone)
{
    StartOneOfEachState();
    const wxString failedLine = frame->downloadsList->GetString(1);
    delete frame;
    frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    ASSERT_EQ(3u, frame->downloadsList->GetCount());
    EXPECT_EQ("[Interrupted] video/x-flv 'Slow clip' > " + out.File("slow.flv"),
              frame->downloadsList->GetString(0));
    EXPECT_EQ(failedLine, frame->downloadsList->GetString(1));
    EXPECT_TRUE(failedLine.StartsWith("[Error: ")) << failedLine;
    EXPECT_EQ("[Done] video/mp4 'Slow clip' > " + out.File("done.mp4"),
              frame->downloadsList->GetString(2));

    // This run's first job takes the line below the remembered ones.
    List({Record("video/mp4", "again.mp4", "/small")});
    ClickDownload(0);
    ASSERT_EQ(4u, frame->downloadsList->GetCount());
    EXPECT_TRUE(frame->downloadsList->GetString(3).Contains(out.File("again.mp4")));

    frame->menuRemembered = 1;
    wxCommandEvent remove(wxEVT_MENU, NorvikFrame::ID_MENU_REMOVE);
    frame->ProcessWindowEvent(remove);
    ASSERT_EQ(3u, frame->downloadsList->GetCount());
    EXPECT_TRUE(frame->downloadsList->GetString(1).StartsWith("[Done]"));
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Done; }, 10000));
    frame->RefreshDownloadsList();
    delete frame;
    frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    ASSERT_EQ(3u, frame->downloadsList->GetCount());
    EXPECT_TRUE(frame->downloadsList->GetString(0).StartsWith("[Interrupted]"));
    EXPECT_TRUE(frame->downloadsList->GetString(1).EndsWith("done.mp4"));
    EXPECT_TRUE(frame->downloadsList->GetString(2).EndsWith("again.mp4"));
}

TEST_F(DownloadActionTest, DownloadCutByTheEndOfARunContinuesFromItsPartialFileByteForByte)
{
    // Once from the line's menu, once by itself at start as the settings ask.
    for (const bool atStart : {false, true})
    {
        SCOPED_TRACE(atStart ? "resumed at start" : "retried from the menu");
        {
            std::lock_guard<std::mutex> guard(rangesMutex);
            ranges.clear();
        }
        holdFirst = true;
        const wxString output = out.File(atStart ? "second.mp4" : "first.mp4");
        List({Record("video/mp4", wxFileName(output).GetFullName(), "/resumable")});
        ClickDownload(0);
        const wxString partial = frame->downloaders[0].GetRecord().tempPath;
        ASSERT_TRUE(
            WaitFor([&] { return frame->downloaders[0].GetProgress().received >= 400000; }, 10000));
        delete frame;
        frame = nullptr;
        ASSERT_EQ(400000u, ReadBytes(partial).size()) << "the received half is kept";

        holdFirst = false;
        AppConfig().SetResumeAtStart(atStart);
        frame = new NorvikFrame(nullptr);
        frame->tickTimer.Stop();
        AppConfig().SetResumeAtStart(false);
        ASSERT_EQ(1u, frame->downloadsList->GetCount());
        if (!atStart)
        {
            EXPECT_EQ("[Interrupted] video/mp4 'Slow clip' > " + output,
                      frame->downloadsList->GetString(0));
            EXPECT_EQ(Idle, frame->downloaders[0].GetState()) << "retried only when asked";
            frame->menuRemembered = 0;
            wxCommandEvent retry(wxEVT_MENU, NorvikFrame::ID_MENU_RETRY);
            frame->ProcessWindowEvent(retry);
            EXPECT_EQ(1u, frame->downloadsList->GetCount()) << "its line went to the job";
        }
        ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Done; }, 10000))
            << frame->downloaders[0].GetRecord().statusText;
        frame->RefreshDownloadsList();
        EXPECT_EQ("[Done] video/mp4 'Slow clip' > " + output, frame->downloadsList->GetString(0));
        EXPECT_TRUE(ReadBytes(output) == resumable) << "byte for byte the whole file";
        ASSERT_EQ(2u, Ranges().size());
        EXPECT_EQ("bytes=400000-", Ranges()[1]);
        EXPECT_FALSE(wxFileExists(partial)) << "the partial file goes once the file is whole";
        // The next window starts without the finished one's partial file or its retry.
        delete frame;
        frame = new NorvikFrame(nullptr);
        frame->tickTimer.Stop();
        ASSERT_EQ(1u, frame->downloadsList->GetCount());
        EXPECT_TRUE(frame->downloadsList->GetString(0).StartsWith("[Done]"));
        // Cleared for the second round.
        wxCommandEvent clear(wxEVT_MENU, NorvikFrame::ID_MENU_CLEAR_FINISHED);
        frame->ProcessWindowEvent(clear);
        EXPECT_EQ(0u, frame->downloadsList->GetCount());
        EXPECT_TRUE(wxFileExists(output)) << "a removed line's file stays";
    }
}

TEST_F(DownloadActionTest, RemovedLinesTakeTheirPartialFilesAndClearFinishedSparesTheInterrupted)
{
    StartOneOfEachState();
    const wxString failedPartial = frame->downloaders[1].GetRecord().tempPath;
    const wxString slowPartial = frame->downloaders[0].GetRecord().tempPath;
    delete frame;
    frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    ASSERT_EQ(3u, frame->downloadsList->GetCount());
    ASSERT_TRUE(wxFileExists(failedPartial));
    ASSERT_TRUE(wxFileExists(slowPartial));
    // One of this run's ends too.
    List({Record("video/mp4", "bad.mp4", "/x")});
    frame->records[0].url = "http://127.0.0.1:1/x";
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Failed; }, 10000));
    frame->RefreshDownloadsList();
    ASSERT_EQ(4u, frame->downloadsList->GetCount());
    const wxString thisRunsPartial = frame->downloaders[0].GetRecord().tempPath;

    wxCommandEvent clear(wxEVT_MENU, NorvikFrame::ID_MENU_CLEAR_FINISHED);
    frame->ProcessWindowEvent(clear);
    ASSERT_EQ(1u, frame->downloadsList->GetCount());
    EXPECT_TRUE(frame->downloadsList->GetString(0).StartsWith("[Interrupted]"));
    EXPECT_FALSE(wxFileExists(failedPartial));
    EXPECT_FALSE(wxFileExists(thisRunsPartial));
    EXPECT_TRUE(wxFileExists(out.File("done.mp4")));

    frame->menuRemembered = 0;
    wxCommandEvent remove(wxEVT_MENU, NorvikFrame::ID_MENU_REMOVE);
    frame->ProcessWindowEvent(remove);
    EXPECT_EQ(0u, frame->downloadsList->GetCount());
    EXPECT_FALSE(wxFileExists(slowPartial));
    delete frame;
    frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    EXPECT_EQ(0u, frame->downloadsList->GetCount()) << "removed lines stay gone";
}

TEST_F(DownloadActionTest, UnreadableJournalIsSetAsideInTheLogAndTheWindowStartsEmpty)
{
    StartOneOfEachState();
    delete frame;
    frame = nullptr;
    const wxString path = DownloadJournal::DefaultPath();
    ASSERT_TRUE(WriteFileText(path, "a page of text where the journal was"));
    // The log is the standard error: caught in a file while the window starts. A box would
    // fail the test through the dialog guard.
    const wxString log = temp.File("stderr.txt");
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int caught = open(log.fn_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(caught, 0);
    dup2(caught, STDERR_FILENO);
    frame = new NorvikFrame(nullptr);
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(caught);
    frame->tickTimer.Stop();
    EXPECT_EQ(0u, frame->downloadsList->GetCount());
    EXPECT_TRUE(ReadFileText(log).Contains("set aside")) << ReadFileText(log);
    wxArrayString aside;
    EXPECT_EQ(1u, wxDir::GetAllFiles(wxFileName(path).GetPath(), &aside,
                                     "journal.sqlite.unreadable-*", wxDIR_FILES));
    EXPECT_EQ("a page of text where the journal was", ReadFileText(aside[0]));
    // The fresh journal works.
    List({Record("video/mp4", "again.mp4", "/small")});
    ClickDownload(0);
    ASSERT_TRUE(WaitFor([&] { return frame->downloaders[0].GetState() == Done; }, 10000));
    delete frame;
    frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    EXPECT_EQ(1u, frame->downloadsList->GetCount());
}
