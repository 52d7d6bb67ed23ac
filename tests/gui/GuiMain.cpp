// Runs the window tests inside a real application object under a display (Xvfb in the test
// run). Listing the tests needs no display, so it skips the toolkit.
#include "support/GuiTestSupport.h"

#include "lookup/HttpFsHandler.h"

#include <curl/curl.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/socket.h>

#include <cstdlib>
#include <string>

namespace
{
class TestApp : public wxApp
{
public:
    bool OnInit() override { return true; }
};

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg)
{
    ADD_FAILURE() << "wx assert " << cond << " (" << msg << ") in " << func << " at " << file
                  << ":" << line;
}

// The tests own their settings: a fresh home for the run, never the developer's.
void UseFreshHome()
{
    char pattern[] = "/tmp/norvik-gui-home-XXXXXX";
    if (const char* home = mkdtemp(pattern))
    {
        setenv("HOME", home, 1);
        unsetenv("XDG_CONFIG_HOME");
    }
}
} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    UseFreshHome();
    wxApp::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv))
        return 2;
    wxTheApp->CallOnInit();
    wxSetAssertHandler(FailOnAssert);
    wxSocketBase::Initialize();
    HttpFsHandler::Install();
    curl_global_init(CURL_GLOBAL_ALL);
    wxInitAllImageHandlers();
    int result = 0;
    {
        UnexpectedDialogGuard guard;
        guard.Register();
        result = RUN_ALL_TESTS();
        guard.Unregister();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
