// The hand-over of finished downloads to the desktop: the default application (a stand-in
// xdg-open on PATH), the file manager and the notification server (stand-ins on a private
// session bus, see desktop_stubs.py, through which these tests run).
#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

#include "ui/NorvikFrame.h"

#include <gio/gio.h>
#include <wx/listbox.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <optional>
#include <string>

namespace
{
constexpr long kAnswerLimitMs = 5000;

// The logs appear only once their writer has something to say; opening one before that
// would log an error where the wait only means "not yet".
wxString FileText(const wxString& path)
{
    return wxFileExists(path) ? ReadFileText(path) : wxString();
}

// Asks the stand-in services' control object for one of its test actions.
bool CallTestControl(const char* method)
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus)
        return false;
    GVariant* answer = g_dbus_connection_call_sync(
        bus, "org.norvik.TestDesktop", "/org/norvik/TestDesktop", "org.norvik.TestDesktop", method,
        nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, int(kAnswerLimitMs), nullptr, nullptr);
    g_object_unref(bus);
    if (!answer)
        return false;
    g_variant_unref(answer);
    return true;
}

class DesktopTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!wxGetEnv("NORVIK_DESKTOP_LOG", &desktopLog))
            GTEST_SKIP() << "runs through desktop_stubs.py, which provides the session bus";
        // The stand-in default application writes each argument it is given on a line.
        const wxString script = bin.File("xdg-open");
        ASSERT_TRUE(WriteFileText(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" "
                                          ">> \"$NORVIK_OPEN_LOG\"; done\n"));
        ASSERT_TRUE(wxExecute("chmod +x \"" + script + "\"", wxEXEC_SYNC) == 0);
        wxString path;
        wxGetEnv("PATH", &path);
        path = bin.Path() + ":" + path;
        pathEnv.emplace("PATH", &path);
        openLogEnv.emplace("NORVIK_OPEN_LOG", &openLog);

        server.Routes().Get("/small", [](const httplib::Request&, httplib::Response& res)
                            { res.set_content(std::string(5000, 'v'), "video/mp4"); });
        server.Routes().Get("/missing", [](const httplib::Request&, httplib::Response& res)
                            { res.status = 404; });
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override
    {
        delete frame;
        server.Stop();
    }

    // A frame with one ended download of clip, whose file name has a blank.
    void FinishOneDownload(bool hidden, const std::string& path = "/small")
    {
        frame = new NorvikFrame(nullptr);
        frame->tickTimer.Stop();
        frame->Show(!hidden);
        StreamRecord rec;
        rec.title = "My clip";
        rec.type = "video/mp4";
        rec.url = server.Url(path);
        rec.outputPath = output;
        frame->records[0] = rec;
        frame->recordCount = 1;
        frame->formatsList->Append("video/mp4");
        frame->formatsList->SetSelection(0);
        wxCommandEvent click(wxEVT_BUTTON, NorvikFrame::ID_BUTTON1);
        frame->OnDownload(click);
        ASSERT_TRUE(WaitFor(
            [&]
            {
                const DownloadState state = frame->downloaders[0].GetState();
                return state == Done || state == Failed;
            },
            10000));
        frame->RefreshDownloadsList();
    }

    bool OpenedWith(const wxString& path)
    {
        return WaitFor([&] { return FileText(openLog) == path + "\n"; }, kAnswerLimitMs);
    }
    bool BusLogHas(const wxString& text)
    {
        return WaitFor([&] { return FileText(desktopLog).Contains(text); }, kAnswerLimitMs);
    }

    TempDir bin;
    TempDir out;
    TestHttpServer server;
    wxString desktopLog;
    const wxString openLog = bin.File("opened.log");
    std::optional<ScopedEnv> pathEnv;
    std::optional<ScopedEnv> openLogEnv;
    const wxString output = out.File("My clip.mp4");
    NorvikFrame* frame = nullptr;
};
} // namespace

TEST_F(DesktopTest, OpenAndEnterOnAFinishedLineStartTheDefaultApplication)
{
    FinishOneDownload(false);
    frame->menuJob = 0;
    wxCommandEvent open(wxEVT_MENU, NorvikFrame::ID_MENU_OPEN);
    frame->ProcessWindowEvent(open);
    EXPECT_TRUE(OpenedWith(output)) << FileText(openLog);

    wxRemoveFile(openLog);
    frame->downloadsList->SetSelection(0);
    frame->downloadsList->SetFocus();
    RunEventsFor(100);
    wxUIActionSimulator().Char(WXK_RETURN);
    EXPECT_TRUE(OpenedWith(output)) << FileText(openLog);
}

TEST_F(DesktopTest, ShowInFolderAsksTheFileManagerElseOpensTheFolder)
{
    FinishOneDownload(false);
    frame->menuJob = 0;
    wxCommandEvent show(wxEVT_MENU, NorvikFrame::ID_MENU_SHOWFOLDER);
    frame->ProcessWindowEvent(show);
    EXPECT_TRUE(BusLogHas("ShowItems")) << FileText(desktopLog);
    EXPECT_TRUE(FileText(desktopLog).Contains("My%20clip.mp4")) << FileText(desktopLog);
    EXPECT_FALSE(wxFileExists(openLog));

    // Without a file manager on the bus the folder opens in the default application.
    ASSERT_TRUE(CallTestControl("ReleaseFileManager"));
    frame->ProcessWindowEvent(show);
    EXPECT_TRUE(OpenedWith(out.Path())) << FileText(openLog);
}

TEST_F(DesktopTest, DownloadEndingOutOfSightIsNotifiedAndItsOpenActionOpens)
{
    FinishOneDownload(true);
    EXPECT_TRUE(BusLogHas("\"Notify\"")) << FileText(desktopLog);
    const wxString log = FileText(desktopLog);
    EXPECT_TRUE(log.Contains("\"My clip\"")) << log;
    EXPECT_TRUE(log.Contains("Done: My clip.mp4")) << log;
    EXPECT_TRUE(log.Contains("\"Open\"")) << log;
    EXPECT_FALSE(wxFileExists(openLog));
    ASSERT_TRUE(CallTestControl("ClickLastAction"));
    EXPECT_TRUE(OpenedWith(output)) << FileText(openLog);
}

TEST_F(DesktopTest, FailedDownloadOutOfSightIsNotifiedWithTheErrorIconAndTheStatus)
{
    FinishOneDownload(true, "/missing");
    ASSERT_EQ(Failed, frame->downloaders[0].GetState());
    EXPECT_TRUE(BusLogHas("\"Notify\"")) << FileText(desktopLog);
    const wxString log = FileText(desktopLog);
    EXPECT_TRUE(log.Contains("\"dialog-error\"")) << log;
    EXPECT_TRUE(log.Contains("Error: HTTP 404 Not Found")) << log;
}
