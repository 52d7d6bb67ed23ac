// Addresses handed over by the user: Enter in the field, Ctrl+V outside a text field, a
// dropped link, and the clipboard watch on every form of the site's address.
#include "support/ClipboardCheck.h"
#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "support/XServerView.h"

#include "ui/NorvikFrame.h"

#include <wx/dataobj.h>
#include <wx/dnd.h>
#include <wx/listbox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "config/AppConfig.h"
#include "ui/MyTrayIcon.h"

#include <wx/menu.h>

#include <gtk/gtk.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace
{
const char* const kOtherSite = "http://127.0.0.1:9/clip?a=1&b=%2F#t=3";
constexpr auto kHeldAnswerLimit = std::chrono::seconds(5);

class AddressInputTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // Stands in for the service: one video for an id or for another site's address.
        server.Routes().Get(
            "/api/",
            [this](const httplib::Request& req, httplib::Response& res)
            {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    asked.push_back(req.has_param("url") ? "url=" + req.get_param_value("url")
                                                         : "id=" + req.get_param_value("videoid"));
                }
                const auto until = std::chrono::steady_clock::now() + kHeldAnswerLimit;
                while (hold && !server.Stopping() && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                res.set_content("status:ok\ntitle:found\nnrecords:1\n"
                                "type0:video/mp4\nquality0:medium\n"
                                "url0:http://127.0.0.1:9/a\n",
                                "text/plain");
            });
        ASSERT_TRUE(server.Start());
        ASSERT_TRUE(WriteFileText(wxGetHomeDir() + "/.Norvik",
                                  "ServiceUrl=" + wxString(server.Url("")) + "\nVideoPath=" +
                                      videos.Path() + "\nAudioPath=" + videos.Path() + "\n"));
        NorvikFrame::lastClipboardUrl.clear();
        frame = new NorvikFrame(nullptr);
        frame->tickTimer.Stop();
        ASSERT_TRUE(ShowOnScreen(frame));
    }
    void TearDown() override
    {
        hold = false;
        delete frame;
        wxRemoveFile(wxGetHomeDir() + "/.Norvik");
    }

    std::vector<std::string> Asked()
    {
        std::lock_guard<std::mutex> guard(lock);
        return asked;
    }

    std::mutex lock;
    std::vector<std::string> asked;
    std::atomic<bool> hold{false};
    TestHttpServer server;
    TempDir videos;
    NorvikFrame* frame = nullptr;
};

// The tests that own the display's clipboard take turns with the others that do.
class AddressInputClipboardTest : public AddressInputTest
{
protected:
    void TearDown() override
    {
        GiveUpClipboard();
        AddressInputTest::TearDown();
    }
};
// The notification-area icon with its menu in reach of the test.
class OpenTrayIcon : public MyTrayIcon
{
public:
    using MyTrayIcon::CreatePopupMenu;
};

// xclip owning the clipboard, ending once it has served one request: while it runs, nobody
// asked for the text.
class OneRequestOwner
{
public:
    explicit OneRequestOwner(const std::string& text)
    {
        int ends[2];
        if (pipe(ends) != 0)
            return;
        pid = fork();
        if (pid == 0)
        {
            dup2(ends[0], STDIN_FILENO);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            close(ends[0]);
            close(ends[1]);
            execlp("xclip", "xclip", "-quiet", "-loops", "1", "-selection", "clipboard", nullptr);
            _exit(127);
        }
        close(ends[0]);
        written = write(ends[1], text.data(), text.size()) == ssize_t(text.size());
        close(ends[1]);
    }
    ~OneRequestOwner()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    bool Started() const { return pid > 0 && written; }
    bool Running()
    {
        if (pid <= 0)
            return false;
        if (waitpid(pid, nullptr, WNOHANG) == 0)
            return true;
        pid = -1;
        return false;
    }

private:
    pid_t pid = -1;
    bool written = false;
};
} // namespace

TEST_F(AddressInputTest, EnterLoadsAnotherSitesWholeAddressAndLoadAgainWaitsForItsAnswer)
{
    hold = true;
    frame->urlText->SetFocus();
    frame->urlText->SetValue(kOtherSite);
    RunEventsFor(100);
    wxUIActionSimulator().Char(WXK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return Asked().size() == 1; }, 3000));
    // The same address again while its answer is held: no second request.
    wxCommandEvent click(wxEVT_BUTTON, NorvikFrame::ID_BUTTON2);
    frame->LoadVideo(click);
    hold = false;
    ASSERT_TRUE(WaitForLookup(frame));
    EXPECT_EQ(std::vector<std::string>{std::string("url=") + kOtherSite}, Asked());
    EXPECT_EQ("found", frame->titleText->GetValue());
    EXPECT_EQ(1u, frame->formatsList->GetCount());
}

TEST_F(AddressInputTest, DroppedLinkIsLoadedAsTheDesktopDeliversIt)
{
    // As the drag and drop hands it over: the selection's data in the format the source
    // offered, read by the drop target itself.
    auto* target = static_cast<wxDropTarget*>(frame->GetDropTarget());
    ASSERT_TRUE(target);
    const struct
    {
        const char* format;
        const char* data;
        const char* expected;
    } drops[] = {
        {"text/uri-list", "# a link\r\nhttps://youtu.be/AbCdEfGhIjK\r\nhttps://x.example/\r\n",
         "id=AbCdEfGhIjK"},
        {"UTF8_STRING", " http://127.0.0.1:9/page?v=AbCdEfGhIjK\n",
         "url=http://127.0.0.1:9/page?v=AbCdEfGhIjK"},
    };
    GtkClipboard* selection = gtk_clipboard_get(gdk_atom_intern_static_string("NORVIK_TEST_DROP"));
    for (const auto& drop : drops)
    {
        const size_t before = Asked().size();
        GtkTargetEntry entry{const_cast<gchar*>(drop.format), 0, 0};
        struct Offer
        {
            static void Get(GtkClipboard*, GtkSelectionData* data, guint, gpointer text)
            {
                const auto* bytes = static_cast<const char*>(text);
                gtk_selection_data_set(data, gtk_selection_data_get_target(data), 8,
                                       reinterpret_cast<const guchar*>(bytes), int(strlen(bytes)));
            }
            static void Clear(GtkClipboard*, gpointer) {}
        };
        ASSERT_TRUE(gtk_clipboard_set_with_data(selection, &entry, 1, &Offer::Get, &Offer::Clear,
                                                const_cast<char*>(drop.data)));
        GtkSelectionData* data =
            gtk_clipboard_wait_for_contents(selection, gdk_atom_intern(drop.format, FALSE));
        ASSERT_TRUE(data) << drop.format;
        target->GTKSetDragData(data);
        EXPECT_EQ(wxDragCopy, target->OnData(1, 1, wxDragCopy)) << drop.format;
        target->GTKSetDragData(nullptr);
        gtk_selection_data_free(data);
        ASSERT_TRUE(WaitForLookup(frame));
        ASSERT_EQ(before + 1, Asked().size()) << drop.format;
        EXPECT_EQ(drop.expected, Asked().back());
        EXPECT_EQ("found", frame->titleText->GetValue());
    }
    gtk_clipboard_clear(selection);
}

TEST_F(AddressInputClipboardTest, CtrlVOutsideATextFieldLoadsTheCopiedAddress)
{
    CopyToClipboard(kOtherSite);
    // In the address field, Ctrl+V is the field's own paste: nothing is looked up.
    frame->urlText->SetFocus();
    RunEventsFor(100);
    wxUIActionSimulator typist;
    typist.Char('v', wxMOD_CONTROL);
    EXPECT_TRUE(WaitFor([&] { return frame->urlText->GetValue() == kOtherSite; }, 3000));
    RunEventsFor(200);
    EXPECT_TRUE(Asked().empty());

    frame->urlText->Clear();
    frame->formatsList->SetFocus();
    RunEventsFor(100);
    typist.Char('v', wxMOD_CONTROL);
    ASSERT_TRUE(WaitFor([&] { return Asked().size() == 1; }, 3000));
    ASSERT_TRUE(WaitForLookup(frame));
    EXPECT_EQ(kOtherSite, frame->urlText->GetValue());
    EXPECT_EQ(std::string("url=") + kOtherSite, Asked()[0]);
    EXPECT_EQ(1u, frame->formatsList->GetCount());
}

TEST_F(AddressInputClipboardTest, WatchTakesEveryFormOfTheSiteAndNothingElse)
{
    const struct
    {
        const char* address;
        const char* request;
    } taken[] = {
        {"https://youtu.be/AbCdEfGhIj1?si=xYz", "id=AbCdEfGhIj1"},
        {"youtube.com/shorts/AbCdEfGhIj2", "id=AbCdEfGhIj2"},
        {"https://www.youtube.com/live/AbCdEfGhIj3?feature=share", "id=AbCdEfGhIj3"},
        {"https://www.youtube.com/embed/AbCdEfGhIj4", "id=AbCdEfGhIj4"},
        {"http://youtube.com/v/AbCdEfGhIj5", "id=AbCdEfGhIj5"},
        {"https://m.youtube.com/watch?v=AbCdEfGhIj6&t=42s", "id=AbCdEfGhIj6"},
        {"music.youtube.com/watch?list=RD1&v=AbCdEfGhIj7", "id=AbCdEfGhIj7"},
        {"www.youtube.com/watch?v=AbCdEfGhIj8", "id=AbCdEfGhIj8"},
    };
    for (const auto& c : taken)
    {
        CopyAndCheck(frame, c.address);
        EXPECT_EQ(c.address, frame->urlText->GetValue());
        ASSERT_FALSE(Asked().empty()) << c.address;
        EXPECT_EQ(c.request, Asked().back()) << c.address;
    }
    const size_t lookups = Asked().size();
    const char* const ignored[] = {
        kOtherSite,
        "https://example.com/watch?v=AbCdEfGhIjK&from=youtube",
        "https://youtu.be/",
        "https://youtu.be/AbCdEfGhIj",
        "https://www.youtube.com/shorts/AbCdEfGhIjKL",
    };
    frame->urlText->Clear();
    for (const char* text : ignored)
        CopyAndCheck(frame, text);
    EXPECT_EQ("", frame->urlText->GetValue());
    EXPECT_EQ(lookups, Asked().size());
}

TEST_F(AddressInputClipboardTest, WatchTurnedOffFromTheTrayAsksTheClipboardsOwnerNothing)
{
    constexpr long kOwnerUpMs = 300;
    constexpr long kWatchedMs = 2000;
    OpenTrayIcon icon;
    icon.SetClipboardSwitch([this] { return frame->WatchesClipboard(); },
                            [this](bool on) { frame->SetClipboardWatch(on); });
    std::unique_ptr<wxMenu> menu(icon.CreatePopupMenu());
    wxMenuItem* item = menu->FindItem(MyTrayIcon::ID_WATCH_CLIPBOARD);
    ASSERT_NE(nullptr, item);
    EXPECT_TRUE(item->IsCheckable());
    EXPECT_TRUE(item->IsChecked()) << "on unless turned off";
    wxCommandEvent off(wxEVT_MENU, MyTrayIcon::ID_WATCH_CLIPBOARD);
    off.SetInt(0);
    icon.ProcessEvent(off);
    EXPECT_FALSE(AppConfig().GetWatchClipboard()) << "the choice is kept";

    const std::string address = "https://youtu.be/AbCdEfGhIj1";
    OneRequestOwner owner(address);
    ASSERT_TRUE(owner.Started());
    RunEventsFor(kOwnerUpMs);
    const wxLongLong until = wxGetLocalTimeMillis() + kWatchedMs;
    while (wxGetLocalTimeMillis() < until && owner.Running())
    {
        frame->CheckClipboard();
        RunEventsFor(NorvikFrame::kTimerPeriodMs / 5);
    }
    EXPECT_TRUE(owner.Running()) << "the owner was asked for the text";
    EXPECT_TRUE(Asked().empty());
    EXPECT_EQ("", frame->urlText->GetValue());

    std::unique_ptr<wxMenu> again(icon.CreatePopupMenu());
    EXPECT_FALSE(again->FindItem(MyTrayIcon::ID_WATCH_CLIPBOARD)->IsChecked());
    // A window started with the watch off does not ask either.
    delete frame;
    frame = new NorvikFrame(nullptr);
    frame->tickTimer.Stop();
    EXPECT_FALSE(frame->WatchesClipboard());
    for (int tick = 0; tick < 5 && owner.Running(); ++tick)
    {
        frame->CheckClipboard();
        RunEventsFor(NorvikFrame::kTimerPeriodMs / 5);
    }
    EXPECT_TRUE(owner.Running()) << "the owner was asked for the text";
}

// On a display of its own: it types with the real keyboard.
TEST_F(AddressInputClipboardTest, CtrlVStillLoadsACopiedAddressWithTheWatchOff)
{
    frame->SetClipboardWatch(false);
    CopyToClipboard("https://youtu.be/AbCdEfGhIj1");
    frame->CheckClipboard();
    RunEventsFor(NorvikFrame::kTimerPeriodMs);
    EXPECT_TRUE(Asked().empty()) << "the watch is off";
    frame->formatsList->SetFocus();
    RunEventsFor(100);
    wxUIActionSimulator typist;
    typist.Char('v', wxMOD_CONTROL);
    ASSERT_TRUE(WaitFor([&] { return Asked().size() == 1; }, 3000));
    ASSERT_TRUE(WaitForLookup(frame));
    EXPECT_EQ("id=AbCdEfGhIj1", Asked()[0]);
    EXPECT_EQ("https://youtu.be/AbCdEfGhIj1", frame->urlText->GetValue());
}
