// A clipboard owner that does not answer (stopped with SIGSTOP) must not freeze the window.
#include "support/GuiTestSupport.h"

#include "ui/ClipboardReader.h"
#include "ui/NorvikFrame.h"

#include <wx/evtloop.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

namespace
{
// The figures the window must keep with a stopped owner.
constexpr long kInputLimitMs = 200;
constexpr double kCpuShareLimit = 0.01;
constexpr long kTakeUpLimitMs = 2000;
// How the measurement is made: a wall interval long enough to show a busy wait, a few tries
// at typing since one slow moment of a loaded machine is not the program's fault.
constexpr long kCpuIntervalMs = 3000;
constexpr long kFocusSettleMs = 100;
constexpr int kTypingTries = 3;
constexpr long kWaitLimitMs = 5000;

// Addresses that pass the pattern but have no 11-character id: taken up and shown in the
// address field, then refused by the Load without asking the service.
const wxString kFirst = "https://www.youtube.com/watch?V=HungOwner01";
const wxString kSecond = "https://www.youtube.com/watch?V=OtherCopy01";

// An owner of the clipboard, as a program a person copied from: xclip in the foreground.
class ClipboardOwner
{
public:
    explicit ClipboardOwner(const std::string& text)
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
            execlp("xclip", "xclip", "-quiet", "-selection", "clipboard", nullptr);
            _exit(127);
        }
        close(ends[0]);
        // A failed write still leaves the child running: it is ended in the destructor.
        written = write(ends[1], text.data(), text.size()) == ssize_t(text.size());
        close(ends[1]);
    }
    ~ClipboardOwner()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGCONT);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    bool Started() const { return pid > 0 && written; }
    void Stop() { kill(pid, SIGSTOP); }
    void Resume() { kill(pid, SIGCONT); }

private:
    pid_t pid = -1;
    bool written = false;
};

Window ClipboardOwnerWindow()
{
    Display* display = wxGetX11Display();
    return XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False));
}

// Waits for a new owner to take the clipboard from the one there before.
bool WaitForNewOwner(Window before)
{
    return WaitFor(
        [&]
        {
            const Window now = ClipboardOwnerWindow();
            return now != 0 && now != before;
        },
        kWaitLimitMs);
}

double ProcessCpuSeconds()
{
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

// Runs an event loop as the program's own would run, ticks included, until the time is up:
// what it costs is what the program costs while it waits.
void RunMainLoopFor(long durationMs)
{
    wxGUIEventLoop loop;
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { loop.Exit(); });
    end.StartOnce(int(durationMs));
    loop.Run();
}

class HungClipboardTest : public testing::Test
{
protected:
    void SetUp() override
    {
        NorvikFrame::lastClipboardUrl.clear();
        frame = new NorvikFrame(nullptr);
        frame->Show(true);
        frame->tickTimer.Stop();
        ASSERT_TRUE(frame->clipboardReader && frame->clipboardReader->IsOk());
    }
    void TearDown() override { delete frame; }

    // Typing reaches the address field quickly; the best of a few tries counts.
    long BestTypingLatencyMs()
    {
        frame->Raise();
        frame->urlText->SetFocus();
        RunEventsFor(kFocusSettleMs);
        wxUIActionSimulator typist;
        long best = kWaitLimitMs;
        for (int i = 0; i < kTypingTries; ++i)
        {
            const size_t before = frame->urlText->GetValue().length();
            const wxLongLong typed = wxGetLocalTimeMillis();
            typist.Char('k');
            if (WaitFor([&] { return frame->urlText->GetValue().length() > before; }, kWaitLimitMs))
                best = std::min(best, long((wxGetLocalTimeMillis() - typed).GetValue()));
        }
        return best;
    }

    NorvikFrame* frame = nullptr;
};
} // namespace

TEST_F(HungClipboardTest, StoppedOwnerFreezesNothingAndIsReadWhenItAnswers)
{
    ClipboardOwner first(std::string(kFirst.utf8_str()));
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitForNewOwner(0));
    first.Stop();
    frame->tickTimer.Start(NorvikFrame::kTimerPeriodMs);
    ASSERT_TRUE(WaitFor([&] { return frame->clipboardReader->IsAsking(); }, kWaitLimitMs));
    RunEventsFor(NorvikFrame::kTimerPeriodMs * 2);
    ASSERT_TRUE(frame->clipboardReader->IsAsking()) << "the stopped owner answered";
    EXPECT_EQ("", frame->urlText->GetValue());

    const double cpuBefore = ProcessCpuSeconds();
    const wxLongLong wallBefore = wxGetLocalTimeMillis();
    RunMainLoopFor(kCpuIntervalMs);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double wall = double((wxGetLocalTimeMillis() - wallBefore).GetValue()) / 1000.0;
    EXPECT_LT(cpu / wall, kCpuShareLimit) << cpu << " s of CPU in " << wall << " s";

    frame->urlText->Clear();
    EXPECT_LT(BestTypingLatencyMs(), kInputLimitMs);

    // The owner answers again: its address is taken up.
    first.Resume();
    EXPECT_TRUE(WaitFor([&] { return frame->urlText->GetValue() == kFirst; }, kTakeUpLimitMs));
    EXPECT_EQ("Not a valid URL", frame->titleText->GetValue());
}

TEST_F(HungClipboardTest, AnotherProgramsCopyIsTakenUpWhileAnOwnerIsStopped)
{
    frame->tickTimer.Start(NorvikFrame::kTimerPeriodMs);
    ClipboardOwner stopped("some words");
    ASSERT_TRUE(stopped.Started());
    ASSERT_TRUE(WaitForNewOwner(0));
    const Window stoppedWindow = ClipboardOwnerWindow();
    stopped.Stop();
    RunEventsFor(NorvikFrame::kTimerPeriodMs * 3);
    ASSERT_TRUE(frame->clipboardReader->IsAsking()) << "no question waits on the stopped owner";

    ClipboardOwner next(std::string(kSecond.utf8_str()));
    ASSERT_TRUE(next.Started());
    ASSERT_TRUE(WaitForNewOwner(stoppedWindow));
    EXPECT_TRUE(WaitFor([&] { return frame->urlText->GetValue() == kSecond; }, kTakeUpLimitMs));
}
