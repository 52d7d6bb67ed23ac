// A Load that lists a video brings the main window forward, wherever it was: hidden,
// minimised, or loaded by the clipboard watch. One that lists nothing leaves it be.
#include "support/ClipboardCheck.h"
#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/XServerView.h"

#include "gui/WatchedWindow.h"
#include "ui/NorvikFrame.h"

#include <wx/textctrl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
const char* const kListedId = "ListedVid01";
const char* const kEmptyId = "EmptyVid001";

using WatchedFrame = WatchedWindow<NorvikFrame>;

wxString WatchPage(const char* id)
{
    return wxString("https://www.youtube.com/watch?v=") + id;
}

class BringForwardTest : public testing::Test
{
protected:
    void SetUp() override
    {
        server.Routes().Get("/api/",
                            [](const httplib::Request& req, httplib::Response& res)
                            {
                                const bool listed = req.get_param_value("videoid") == kListedId;
                                res.set_content(listed ? "status:ok\ntitle:Clip\nnrecords:1\n"
                                                         "type0:video/mp4\nquality0:medium\n"
                                                         "url0:http://127.0.0.1:9/a\n"
                                                       : "status:ok\ntitle:Clip\nnrecords:0\n",
                                                "text/plain");
                            });
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(WriteFileText(wxGetHomeDir() + "/.Norvik",
                                  "ServiceUrl=" + wxString(server.Url("")) + "\nVideoPath=" +
                                      videos.Path() + "\nAudioPath=" + videos.Path() + "\n"));
        frame = new WatchedFrame(nullptr);
        frame->tickTimer.Stop();
        ASSERT_TRUE(ShowOnScreen(frame));
    }
    void TearDown() override
    {
        delete frame;
        wxRemoveFile(wxGetHomeDir() + "/.Norvik");
    }

    void Load(const char* id)
    {
        frame->urlText->SetValue(WatchPage(id));
        wxCommandEvent click(wxEVT_BUTTON, NorvikFrame::ID_BUTTON2);
        frame->LoadVideo(click);
        EXPECT_TRUE(WaitForLookup(frame));
    }

    bool Called(const std::string& call) const
    {
        return std::find(frame->calls.begin(), frame->calls.end(), call) != frame->calls.end();
    }

    TestHttpServer server;
    TempDir videos;
    WatchedFrame* frame = nullptr;
};
} // namespace

TEST_F(BringForwardTest, LoadShowsAHiddenWindowInFront)
{
    frame->Hide();
    frame->calls.clear();
    Load(kListedId);
    ASSERT_EQ(1, frame->recordCount);
    EXPECT_TRUE(frame->IsShown());
    EXPECT_TRUE(Called("Raise"));
    EXPECT_TRUE(Called("Show(true)"));
}

TEST_F(BringForwardTest, LoadRestoresAMinimisedWindowBeforeRaisingIt)
{
    frame->Iconize(true);
    frame->calls.clear();
    Load(kListedId);
    ASSERT_EQ(1, frame->recordCount);
    const auto restored = std::find(frame->calls.begin(), frame->calls.end(), "Iconize(false)");
    const auto raised = std::find(frame->calls.begin(), frame->calls.end(), "Raise");
    ASSERT_NE(frame->calls.end(), restored);
    ASSERT_NE(frame->calls.end(), raised);
    EXPECT_LT(restored, raised);
}

TEST_F(BringForwardTest, LoadByTheClipboardShowsAHiddenWindow)
{
    frame->Hide();
    NorvikFrame::lastClipboardUrl.clear();
    CopyAndCheck(frame, WatchPage(kListedId));
    GiveUpClipboard();
    ASSERT_EQ(1, frame->recordCount);
    EXPECT_TRUE(frame->IsShown());
}

TEST_F(BringForwardTest, LoadThatListsNothingTypedOrFromTheClipboardLeavesTheWindowWhereItWas)
{
    frame->Hide();
    frame->calls.clear();
    Load(kEmptyId);
    EXPECT_EQ(0, frame->recordCount);
    EXPECT_FALSE(frame->IsShown());
    EXPECT_TRUE(frame->calls.empty()) << frame->calls.front();

    NorvikFrame::lastClipboardUrl.clear();
    CopyAndCheck(frame, WatchPage(kEmptyId));
    GiveUpClipboard();
    EXPECT_EQ(WatchPage(kEmptyId), frame->urlText->GetValue()) << "taken up, yet not listed";
    EXPECT_FALSE(frame->IsShown());
    EXPECT_TRUE(frame->calls.empty()) << frame->calls.front();
}
