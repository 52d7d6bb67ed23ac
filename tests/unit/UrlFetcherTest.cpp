#include "lookup/HttpFsHandler.h"
#include "lookup/UrlFetcher.h"
#include "support/TestHttpServer.h"

#include <gtest/gtest.h>

#include <wx/time.h>

#include <atomic>

namespace
{
class UrlFetcherTest : public testing::Test
{
protected:
    void SetUp() override
    {
        HttpFsHandler::Install();
        server.Routes().Get("/api/", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("status:ok\ntitle:Grüße " + req.get_param_value("videoid") + "\n",
                            "text/plain");
        });
        server.Routes().Get("/empty", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("", "text/plain");
        });
        server.Routes().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
        });
        server.Routes().Get("/stuck", [this](const httplib::Request&, httplib::Response& res) {
            for (int i = 0; i < 500 && !stopping.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            res.set_content("late", "text/plain");
        });
        ASSERT_TRUE(server.Start());
    }
    void TearDown() override
    {
        stopping.store(true);
        server.Stop();
    }
    std::atomic<bool> stopping{false};
    TestHttpServer server;
};
} // namespace

TEST_F(UrlFetcherTest, ReadsTheWholeDocumentAsUtf8)
{
    wxString text;
    ASSERT_EQ(FetchOutcome::Read, FetchUrlText(server.Url("/api/?videoid=AbCdEfGhIjK"), text));
    EXPECT_EQ(wxString::FromUTF8("status:ok\ntitle:Grüße AbCdEfGhIjK\n"), text);
    ASSERT_EQ(FetchOutcome::Read, FetchUrlText(server.Url("/empty"), text));
    EXPECT_EQ("", text);
}

TEST_F(UrlFetcherTest, ErrorRepliesAndRefusedConnectionsAreNotOpened)
{
    wxString text;
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText(server.Url("/gone"), text));
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText("http://127.0.0.1:1/api/", text));
}

TEST_F(UrlFetcherTest, AStuckServiceIsGivenUpAfterTheTimeout)
{
    const long saved = HttpFsHandler::GetTimeoutSeconds();
    HttpFsHandler::SetTimeoutSeconds(1);
    wxString text;
    const wxLongLong started = wxGetLocalTimeMillis();
    EXPECT_EQ(FetchOutcome::NotOpened, FetchUrlText(server.Url("/stuck"), text));
    const long elapsed = (wxGetLocalTimeMillis() - started).ToLong();
    HttpFsHandler::SetTimeoutSeconds(saved);
    EXPECT_LT(elapsed, 3000) << "a failed request must not be made again by another handler";
}
