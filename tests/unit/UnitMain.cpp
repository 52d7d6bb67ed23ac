#include <gtest/gtest.h>

#include <curl/curl.h>
#include <wx/init.h>
#include <wx/log.h>

// Asserts of the toolkit become test failures instead of aborting or asking on a terminal.
static void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                         const wxString& msg)
{
    ADD_FAILURE() << "wx assert " << cond << " (" << msg << ") in " << func << " at " << file << ":"
                  << line;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 2;
    wxSetAssertHandler(FailOnAssert);
    curl_global_init(CURL_GLOBAL_ALL);
    return RUN_ALL_TESTS();
}
