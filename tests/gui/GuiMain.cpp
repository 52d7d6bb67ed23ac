// Runs the window tests inside a real application object under a display (Xvfb in the test
// run). Listing the tests needs no display, so it skips the toolkit.
#include "support/GuiTestSupport.h"

#include "lookup/HttpFsHandler.h"

#include <curl/curl.h>
#include <wx/filename.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/init.h>
#include <wx/socket.h>

#include <cstdlib>
#include <string>

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
    ADD_FAILURE() << "wx assert " << cond << " (" << msg << ") in " << func << " at " << file
                  << ":" << line;
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
    return home;
}
} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    const wxString home = UseFreshHome();
    wxApp::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    if (!wxTheApp->CallOnInit())
        return 2;
    wxSetAssertHandler(FailOnAssert);
    // Log messages go to the test output; the toolkit's GUI target would open a dialog.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxSocketBase::Initialize();
    HttpFsHandler::Install();
    curl_global_init(CURL_GLOBAL_ALL);
    wxInitAllImageHandlers();
    int result = 0;
    {
        wxEventLoopActivator active(wxTheApp->GetMainLoop());
        UnexpectedDialogGuard guard;
        guard.Register();
        result = RUN_ALL_TESTS();
        guard.Unregister();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    if (!home.empty())
        wxFileName::Rmdir(home, wxPATH_RMDIR_RECURSIVE);
    return result;
}
