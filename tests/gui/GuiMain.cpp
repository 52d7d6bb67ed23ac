// Runs the window tests inside a real application object under a display (Xvfb in the test
// run). Listing the tests needs no display, so it skips the toolkit.
#include "support/GuiTestSupport.h"
#include "support/PrivateDesktop.h"

#include "lookup/HttpFsHandler.h"
#include "ui/PictureDecoders.h"

#include <X11/Xlib.h>
#include <curl/curl.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/socket.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{
// The tests drive handlers from outside any running loop, but some toolkit calls (the
// window's request for attention among them) reach for the main loop: give them one.
class TestApp : public wxApp
{
public:
    bool OnInit() override
    {
        m_mainLoop = CreateMainLoop();
        return m_mainLoop != nullptr;
    }
    int OnExit() override
    {
        delete m_mainLoop;
        m_mainLoop = nullptr;
        return wxApp::OnExit();
    }
};

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE() << "wx assert " << cond << " (" << msg << ") in " << func << " at " << file << ":"
                  << line;
}

const char* const kWithNotificationArea = "--with-notification-area";
const char* const kOwnDisplay = "--own-display";
const char* const kStartTriesVariable = "NORVIK_GUI_TEST_START_TRIES";
constexpr int kStartTries = 3;
constexpr long kRestartPauseMs = 500;

// On a loaded machine the shared display may turn a new client away for a moment; the
// toolkit gives up at the first refusal, so the test waits until the display takes clients.
bool WaitForDisplay()
{
    constexpr int kAttempts = 100;
    constexpr int kPauseMs = 100;
    for (int attempt = 1; attempt <= kAttempts; ++attempt)
    {
        if (Display* display = XOpenDisplay(nullptr))
        {
            XCloseDisplay(display);
            if (attempt > 1)
                std::cerr << "the display took clients at attempt " << attempt << "\n";
            return true;
        }
        wxMilliSleep(kPauseMs);
    }
    const char* name = std::getenv("DISPLAY");
    std::cerr << "the display " << (name ? name : "(unset)") << " takes no clients\n";
    return false;
}

// The tests own their settings: a fresh home for the run, never the developer's.
wxString UseFreshHome()
{
    char pattern[] = "/tmp/norvik-gui-home-XXXXXX";
    const char* home = mkdtemp(pattern);
    if (!home)
        return wxString();
    setenv("HOME", home, 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CACHE_HOME");
    return home;
}
// Every test starts without downloads remembered by the windows of the tests before it.
class FreshJournal : public testing::EmptyTestEventListener
{
public:
    explicit FreshJournal(const wxString& home) : folder(home + "/.local/share/norvik") {}
    void OnTestStart(const testing::TestInfo&) override
    {
        if (wxDirExists(folder))
            wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
    }

private:
    wxString folder;
};
} // namespace

int main(int argc, char** argv)
{
    // Kept before the test framework takes its own options out of argv, for a new start.
    std::vector<char*> originalArguments(argv, argv + argc);
    originalArguments.push_back(nullptr);
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // Tests that behave differently with a notification area run a second time on a display
    // of their own that has one; tests that read back pixels run on one of their own.
    std::unique_ptr<PrivateDesktop> desktop;
    for (int i = 1; i < argc && !desktop; ++i)
    {
        const bool withArea = std::strcmp(argv[i], kWithNotificationArea) == 0;
        if (!withArea && std::strcmp(argv[i], kOwnDisplay) != 0)
            continue;
        desktop = std::make_unique<PrivateDesktop>();
        std::string error;
        if (!desktop->Start(withArea, error))
        {
            std::cerr << "no display of our own: " << error << "\n";
            return 2;
        }
    }
    if (!WaitForDisplay())
        return 2;
    const wxString home = UseFreshHome();
    wxApp::SetInstance(new TestApp);
    // Log messages go to the test output, from the start: the toolkit says there why it
    // could not start, and its GUI target would open a dialog.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    if (!wxEntryStart(argc, argv))
    {
        const char* display = std::getenv("DISPLAY");
        std::cerr << "the toolkit did not start on DISPLAY=" << (display ? display : "(unset)")
                  << "\n";
        const char* triedBefore = std::getenv(kStartTriesVariable);
        const int tries = (triedBefore ? std::atoi(triedBefore) : 0) + 1;
        if (tries >= kStartTries)
            return 2;
        // GTK now and then fails to open a display that does take clients (seen on a loaded
        // machine, a few times in some hundred starts): start once more, a bounded number of
        // times, as a fresh process.
        std::cerr << "starting again (" << tries + 1 << " of " << kStartTries << ")\n";
        setenv(kStartTriesVariable, std::to_string(tries).c_str(), 1);
        desktop.reset();
        if (!home.empty())
            wxFileName::Rmdir(home, wxPATH_RMDIR_RECURSIVE);
        wxMilliSleep(kRestartPauseMs);
        execv("/proc/self/exe", originalArguments.data());
        return 2;
    }
    if (!wxTheApp->CallOnInit())
    {
        std::cerr << "the test application did not initialise\n";
        return 2;
    }
    wxSetAssertHandler(FailOnAssert);
    // The toolkit's start put its GUI log target in place, which would open a dialog at the
    // end: back to the test output.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxSocketBase::Initialize();
    HttpFsHandler::Install();
    curl_global_init(CURL_GLOBAL_ALL);
    // The program's own set of decoders, so a test meets the pictures the program meets.
    RegisterPictureDecoders();
    int result = 0;
    {
        wxEventLoopActivator active(wxTheApp->GetMainLoop());
        UnexpectedDialogGuard guard;
        guard.Register();
        testing::UnitTest::GetInstance()->listeners().Append(new FreshJournal(home));
        result = RUN_ALL_TESTS();
        guard.Unregister();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    if (!home.empty())
        wxFileName::Rmdir(home, wxPATH_RMDIR_RECURSIVE);
    return result;
}
