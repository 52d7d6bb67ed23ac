#include "support/GermanLocale.h"
#include "support/GuiTestSupport.h"
#include "support/TempDir.h"
#include "support/XServerView.h"

#include "app/StartupArguments.h"
#include "ui/NorvikFrame.h"

#include <wx/taskbar.h>

#include <sys/stat.h>
#include <wx/button.h>
#include <wx/control.h>
#include <wx/dir.h>
#include <wx/intl.h>
#include <wx/log.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace
{
// The folder for the single-instance lock, inside the test's home.
wxString RuntimeFolder(const wxString& home)
{
    return home + "/run";
}

// The real program as a child process, with a home and a lock folder of its own and at most
// one argument.
pid_t StartProgram(const wxString& executable, const wxString& home, const char* argument = nullptr)
{
    const wxString runtime = RuntimeFolder(home);
    if (!wxDirExists(runtime) && !wxMkdir(runtime, 0700))
        return -1;
    const pid_t pid = fork();
    if (pid == 0)
    {
        setenv("HOME", home.utf8_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.utf8_str(), 1);
        execl(executable.utf8_str(), executable.utf8_str(), argument, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// True when the child ended within the limit.
bool EndsWithin(pid_t pid, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void EndProgram(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The program is up once it holds its lock and has brought the autostart entry in line.
bool WaitUntilUp(const wxString& home)
{
    return WaitFor([&] { return wxFileExists(home + "/.config/autostart/Norvik.desktop"); }, 10000);
}
// A window of a process as the X server has it.
struct ProgramWindow
{
    std::string name;
    bool viewable = false;
    bool startsMinimised = false;
};

void CollectWindowsOf(Display* display, Window window, unsigned long pid,
                      std::vector<ProgramWindow>& found)
{
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data)
    {
        if (count == 1 && *reinterpret_cast<unsigned long*>(data) == pid)
        {
            ProgramWindow w;
            char* name = nullptr;
            if (XFetchName(display, window, &name) && name)
            {
                w.name = name;
                XFree(name);
            }
            XWindowAttributes a;
            w.viewable = XGetWindowAttributes(display, window, &a) && a.map_state == IsViewable;
            if (XWMHints* hints = XGetWMHints(display, window))
            {
                w.startsMinimised =
                    (hints->flags & StateHint) && hints->initial_state == IconicState;
                XFree(hints);
            }
            found.push_back(w);
        }
        XFree(data);
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned childCount = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &childCount))
    {
        for (unsigned i = 0; i < childCount; ++i)
            CollectWindowsOf(display, children[i], pid, found);
        XFree(children);
    }
}

std::vector<ProgramWindow> WindowsOf(pid_t pid)
{
    std::vector<ProgramWindow> found;
    if (Display* display = TestDisplayConnection())
        CollectWindowsOf(display, DefaultRootWindow(display), static_cast<unsigned long>(pid),
                         found);
    return found;
}

const char* const kMainWindowTitle = "Norvik 2.0";

// The main window as the server shows it, once it is on the screen.
bool MainWindowOnScreen(pid_t pid, ProgramWindow& main)
{
    for (const ProgramWindow& w : WindowsOf(pid))
        if (w.viewable && w.name == kMainWindowTitle)
        {
            main = w;
            return true;
        }
    return false;
}

// The program's icon, embedded in the notification area and shown there.
bool IconOnScreen(pid_t pid)
{
    for (const ProgramWindow& w : WindowsOf(pid))
        if (w.viewable && w.name != kMainWindowTitle)
            return true;
    return false;
}

constexpr long kWindowWaitMs = 10000;
// After the icon shows, time enough for a window that was going to show to do so too.
constexpr long kSettleMs = 500;
} // namespace

TEST(StartupView, LogOnStartShowsOnlyTheIconWithANotificationAreaAndMinimisesWithout)
{
    TempDir home;
    const pid_t pid = StartProgram(NORVIK_BUILD_DIR "/norvik", home.Path(), "startup");
    ASSERT_GT(pid, 0);
    ProgramWindow main;
    if (wxTaskBarIcon::IsAvailable())
    {
        EXPECT_TRUE(WaitFor([&] { return IconOnScreen(pid); }, kWindowWaitMs));
        RunEventsFor(kSettleMs);
        EXPECT_FALSE(MainWindowOnScreen(pid, main)) << "only the icon comes up";
    }
    else
    {
        // Nowhere to come back from if hidden: the window starts minimised instead.
        EXPECT_TRUE(WaitFor([&] { return MainWindowOnScreen(pid, main); }, kWindowWaitMs));
        EXPECT_TRUE(main.startsMinimised);
    }
    EndProgram(pid);
}

TEST(StartupView, OrdinaryStartShowsTheWindowNotMinimised)
{
    TempDir home;
    const pid_t pid = StartProgram(NORVIK_BUILD_DIR "/norvik", home.Path());
    ASSERT_GT(pid, 0);
    ProgramWindow main;
    EXPECT_TRUE(WaitFor([&] { return MainWindowOnScreen(pid, main); }, kWindowWaitMs));
    EXPECT_FALSE(main.startsMinimised);
    EndProgram(pid);
}

TEST(StartupArguments, OnlyTheSingleWordStartupInAnyCaseStartsHidden)
{
    const struct
    {
        std::vector<wxString> args;
        bool hidden;
    } cases[] = {
        {{"norvik"}, false},
        {{"norvik", "startup"}, true},
        {{"norvik", "STARTUP"}, true},
        {{"norvik", "Startup"}, true},
        {{"norvik", "startup", "now"}, false},
        {{"norvik", "start"}, false},
        {{"norvik", "--startup"}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.hidden, IsLogOnStart(int(c.args.size()), c.args.data()))
            << c.args.size() << " arguments";
}

TEST(Startup, SecondInstanceEndsAtOnceACopyUnderAnotherNameRunsBeside)
{
    TempDir home;
    const wxString program = NORVIK_BUILD_DIR "/norvik";
    const pid_t first = StartProgram(program, home.Path());
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitUntilUp(home.Path()));

    EXPECT_TRUE(wxFileExists(RuntimeFolder(home.Path()) + "/norvik-" + wxGetUserId()))
        << "the lock is made in the runtime folder, under the name it always had";
    const pid_t second = StartProgram(program, home.Path());
    EXPECT_TRUE(EndsWithin(second, 5000)) << "a second copy of the same user must end at once";

    const wxString renamed = home.File("norvik-other");
    ASSERT_TRUE(wxCopyFile(program, renamed));
    ASSERT_EQ(0, chmod(renamed.utf8_str(), 0755));
    const pid_t other = StartProgram(renamed, home.Path());
    EXPECT_FALSE(EndsWithin(other, 1500)) << "a copy under another name has a lock of its own";
    EndProgram(other);
    EndProgram(first);
}

TEST(Startup, StaleLockNamingALiveProcessOfAnotherProgramDoesNotStopTheStart)
{
    TempDir home;
    const wxString runtime = RuntimeFolder(home.Path());
    ASSERT_TRUE(wxMkdir(runtime, 0700));
    // What a crashed run leaves, as the toolkit's lock wrote it: its process number, in
    // decimal, in a file of mode 0600. The number now belongs to another live program, this
    // test.
    const std::string stale = std::to_string(getpid());
    const int fd = open(wxString(runtime + "/norvik-" + wxGetUserId()).fn_str(),
                        O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ssize_t(stale.size() + 1), write(fd, stale.c_str(), stale.size() + 1));
    close(fd);

    const wxString program = NORVIK_BUILD_DIR "/norvik";
    const pid_t first = StartProgram(program, home.Path());
    ASSERT_GT(first, 0);
    EXPECT_TRUE(WaitUntilUp(home.Path())) << "a number in the lock file holds nothing";
    const pid_t second = StartProgram(program, home.Path());
    const bool secondEnded = EndsWithin(second, 5000);
    EXPECT_TRUE(secondEnded) << "the running copy still holds the lock";
    if (!secondEnded)
        EndProgram(second);
    EndProgram(first);
}

TEST(Translation, TheWindowSpeaksGermanWithTheCatalogue)
{
    wxLocale german;
    {
        wxLogNull quiet;
        german.Init(wxLANGUAGE_GERMAN, 0);
    }
    wxLocale::AddCatalogLookupPathPrefix(NORVIK_BUILD_DIR "/locale");
    ASSERT_TRUE(german.AddCatalog("norvik"));
    auto* frame = new NorvikFrame(nullptr);
    EXPECT_EQ("Laden", frame->loadButton->GetLabel());
    EXPECT_EQ("Norvik 2.0", frame->GetTitle()) << "the title is never translated";
    delete frame;
}

TEST(Translation, GermanKeepsSettingsApartAboutNamedAndMnemonicsAtAWordsStart)
{
    GermanLocale german;
    ASSERT_TRUE(german.Ready());
    const auto plain = [](const char* english)
    {
        wxString text = wxControl::RemoveMnemonics(wxGetTranslation(english));
        text = text.BeforeFirst('\t');
        text.Replace(wxString::FromUTF8("…"), "");
        return text.Trim();
    };
    // The menu item, the help text of the window it opens, and the box inside that window.
    EXPECT_NE(plain("Options..."), plain("Options panel"));
    EXPECT_NE(plain("Options..."), plain("Configuration"));
    EXPECT_NE(plain("Options panel"), plain("Configuration"));
    // "Über" alone says nothing: about what.
    EXPECT_TRUE(plain("About\tF1").Contains(" ")) << plain("About\tF1");
    for (const char* english : {"&Show main window", "&File"})
    {
        const wxString german = wxGetTranslation(english);
        const int at = german.Find('&');
        ASSERT_NE(wxNOT_FOUND, at) << english;
        EXPECT_TRUE(at == 0 || german[size_t(at) - 1] == ' ') << german;
    }
}
