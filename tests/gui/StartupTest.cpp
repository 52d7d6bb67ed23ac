#include "support/GuiTestSupport.h"
#include "support/TempDir.h"

#include "app/StartupArguments.h"
#include "ui/NorvikFrame.h"

#include <wx/button.h>
#include <wx/dir.h>
#include <wx/log.h>
#include <sys/stat.h>
#include <wx/intl.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace
{
// The folder for the single-instance lock, inside the test's home.
wxString RuntimeFolder(const wxString& home)
{
    return home + "/run";
}

// The real program as a child process, with a home and a lock folder of its own.
pid_t StartProgram(const wxString& executable, const wxString& home)
{
    const wxString runtime = RuntimeFolder(home);
    if (!wxDirExists(runtime) && !wxMkdir(runtime, 0700))
        return -1;
    const pid_t pid = fork();
    if (pid == 0)
    {
        setenv("HOME", home.utf8_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.utf8_str(), 1);
        execl(executable.utf8_str(), executable.utf8_str(), static_cast<char*>(nullptr));
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
} // namespace

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
