// The browser's sign-in through the real yt-dlp of the system: a page of the test's own on
// loopback answers only a request that carries its cookie, and the cookie is in a Firefox
// profile the test writes under a fresh HOME, as the browser would have left it.
#include "ProgramRun.h"
#include "ServiceHarness.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{
const char* const kResolver = "yt-dlp";
const std::string kId = "SignedInPg1";
const std::string kCookieName = "SID";
const std::string kCookieValue = "signed-in-7f3a";
const std::string kClip(256 * 1024 + 3, 'c');
// yt-dlp starts slowly on a loaded machine; the service's bound stays below the client's.
const char* const kResolveSeconds = "40";
constexpr auto kClientLimit = std::chrono::seconds(50);
constexpr auto kProfileWriteLimit = std::chrono::seconds(20);

// Firefox's own layout: profiles.ini names the profile, whose cookies.sqlite holds the table
// moz_cookies. Written by python3's sqlite3 module, as the service's tests link no SQLite.
const char* const kWriteProfile = R"py(
import os, sys, sqlite3
root = os.path.join(sys.argv[1], ".mozilla", "firefox")
profile = os.path.join(root, "test.default-release")
os.makedirs(profile)
with open(os.path.join(root, "profiles.ini"), "w") as f:
    f.write("[Profile0]\nName=default-release\nIsRelative=1\nPath=test.default-release\nDefault=1\n")
db = sqlite3.connect(os.path.join(profile, "cookies.sqlite"))
db.execute("CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL "
           "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, "
           "lastAccessed INTEGER, creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER)")
db.execute("INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure, isHttpOnly) "
           "VALUES (?, ?, '127.0.0.1', '/', 4102444800, 0, 1)", (sys.argv[2], sys.argv[3]))
db.commit()
)py";

class ServiceSignInTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OnPath(kResolver))
            GTEST_SKIP() << "yt-dlp is not installed (scripts/install-deps.sh installs it): the "
                            "browser's sign-in through it is not tested";
        std::string output;
        const ProgramRun written = ProgramRun::Capture(
            {"python3", "-c", kWriteProfile, home.Path().string(), kCookieName, kCookieValue},
            output, kProfileWriteLimit);
        ASSERT_TRUE(written.finished && written.code == 0) << written.err;
        page.Routes().Get("/watch",
                          [this](const httplib::Request& req, httplib::Response& res)
                          {
                              if (!SignedIn(req))
                              {
                                  res.status = 403;
                                  return;
                              }
                              pageSawCookie = true;
                              res.set_content("<html><head><title>Signed in</title></head><body>"
                                              "<video><source src=\"/files/clip.mp4\" "
                                              "type=\"video/mp4\"></video></body></html>",
                                              "text/html");
                          });
        // The stream asks with the sign-in too: yt-dlp adds the cookies to every request.
        page.Routes().Get("/files/clip.mp4",
                          [](const httplib::Request& req, httplib::Response& res)
                          {
                              if (SignedIn(req))
                                  res.set_content(kClip, "video/mp4");
                              else
                                  res.status = 403;
                          });
        ASSERT_TRUE(page.Start());
        service.SetEnvironment("HOME", home.Path().string());
        service.SetEnvironment("XDG_CONFIG_HOME", (home.Path() / ".config").string());
    }

    static bool SignedIn(const httplib::Request& req)
    {
        return req.get_header_value("Cookie").find(kCookieName + "=" + kCookieValue) !=
               std::string::npos;
    }

    bool StartService(const std::vector<std::string>& more)
    {
        std::vector<std::string> args{"--resolver",        kResolver,
                                      "--watch-url",       page.Url("/watch?v=%s"),
                                      "--resolve-timeout", kResolveSeconds};
        args.insert(args.end(), more.begin(), more.end());
        return service.Start(args);
    }

    std::map<std::string, std::string> LookUp()
    {
        return ReplyValues(
            HttpGet(service.BaseUrl() + "/api/?videoid=" + kId, {}, kClientLimit).body);
    }

    TempFolder home;
    TestHttpServer page;
    std::atomic<bool> pageSawCookie{false};
    ServiceUnderTest service;
};

TEST_F(ServiceSignInTest, TheFirefoxSignInOpensThePageAndItsStream)
{
    ASSERT_TRUE(StartService({"--cookies-from-browser", "firefox"}));
    auto values = LookUp();
    ASSERT_EQ("ok", values["status"]) << service.ErrorOutput();
    EXPECT_TRUE(pageSawCookie);
    ASSERT_EQ("video/mp4", values["type0"]);
    const HttpReply stream = HttpGet(values["url0"], {}, kClientLimit);
    EXPECT_EQ(200, stream.status) << service.ErrorOutput();
    EXPECT_TRUE(stream.body == kClip) << stream.body.size() << " bytes";
}

TEST_F(ServiceSignInTest, WithoutTheSignInThePageRefusesTheLookup)
{
    ASSERT_TRUE(StartService({}));
    EXPECT_EQ("fail", LookUp()["status"]);
    EXPECT_FALSE(pageSawCookie);
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("403")) << service.ErrorOutput();
}
} // namespace
