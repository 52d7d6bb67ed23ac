// The real yt-dlp of the system behind the service, offline: the watch page is the test's
// own on loopback, read by yt-dlp's generic extractor.
#include "ProgramRun.h"
#include "ServiceHarness.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace
{
const char* const kResolver = "yt-dlp";
const std::string kId = "LoopbackPg1";
constexpr std::size_t kClipBytes = 3 * 1024 * 1024 + 17;
// yt-dlp is a Python program of many modules: on a loaded machine one run can take several
// seconds to start. The service's bound stays below the client's.
const char* const kResolveSeconds = "40";
constexpr auto kClientLimit = std::chrono::seconds(50);

std::string Clip(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned value = seed;
    for (char& c : bytes)
    {
        value = value * 1103515245u + 12345u;
        c = char(value >> 16);
    }
    return bytes;
}

class ServiceYtDlpTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!OnPath(kResolver))
            GTEST_SKIP() << "yt-dlp is not installed (scripts/install-deps.sh installs it): the "
                            "service's road through the real resolver is not tested";
        mp4 = Clip(kClipBytes, 1);
        webm = Clip(kClipBytes / 3, 2);
        page.Routes().Get("/watch",
                          [](const httplib::Request& req, httplib::Response& res)
                          {
                              if (req.get_param_value("v") != kId)
                              {
                                  res.status = 404;
                                  return;
                              }
                              res.set_content(
                                  "<html><head><title>Loopback page</title></head><body>"
                                  "<video><source src=\"/files/clip.mp4\" type=\"video/mp4\">"
                                  "<source src=\"/files/clip.webm\" type=\"video/webm\">"
                                  "</video></body></html>",
                                  "text/html");
                          });
        // A page of another site, reached by its own address.
        page.Routes().Get("/films/own page.html",
                          [](const httplib::Request&, httplib::Response& res)
                          {
                              res.set_content("<html><head><title>Own page</title></head><body>"
                                              "<video><source src=\"/files/clip.mp4\" "
                                              "type=\"video/mp4\"></video></body></html>",
                                              "text/html");
                          });
        page.Routes().Get("/files/clip.mp4", [this](const httplib::Request&, httplib::Response& res)
                          { res.set_content(mp4, "video/mp4"); });
        page.Routes().Get("/files/clip.webm",
                          [this](const httplib::Request&, httplib::Response& res)
                          { res.set_content(webm, "video/webm"); });
        ASSERT_TRUE(page.Start());
        ASSERT_TRUE(service.Start({"--resolver", kResolver, "--watch-url", page.Url("/watch?v=%s"),
                                   "--resolve-timeout", kResolveSeconds}));
    }

    std::string mp4;
    std::string webm;
    TestHttpServer page;
    ServiceUnderTest service;
};

TEST_F(ServiceYtDlpTest, LookupListsThePageFormatsAndAStreamIsTheServedFile)
{
    const HttpReply lookup = HttpGet(service.BaseUrl() + "/api/?videoid=" + kId, {}, kClientLimit);
    ASSERT_TRUE(lookup.received) << service.ErrorOutput();
    auto values = ReplyValues(lookup.body);
    ASSERT_EQ("ok", values["status"]) << service.ErrorOutput();
    EXPECT_NE(std::string::npos, values["title"].find("Loopback page"));
    // The page's two formats, then the MP3 of the best sound.
    ASSERT_EQ("3", values["nrecords"]);
    EXPECT_EQ("audio/mp3", values["type2"]);
    std::map<std::string, std::string> urlOfType;
    for (const char* n : {"0", "1"})
        urlOfType[values[std::string("type") + n]] = values[std::string("url") + n];
    ASSERT_EQ(1u, urlOfType.count("video/mp4"));
    ASSERT_EQ(1u, urlOfType.count("video/webm"));

    const HttpReply stream = HttpGet(urlOfType["video/mp4"], {}, kClientLimit);
    ASSERT_TRUE(stream.received) << service.ErrorOutput();
    EXPECT_EQ(200, stream.status);
    EXPECT_EQ(mp4.size(), stream.body.size());
    EXPECT_TRUE(stream.body == mp4);
}

TEST_F(ServiceYtDlpTest, AnotherSitesPageIsLookedUpByItsAddressAndStreamedUnderItsOwnId)
{
    // As Norvik sends a copied address: every reserved character escaped, the "%" of the
    // blank the browser escaped too.
    const std::string escaped = "http%3A%2F%2F127.0.0.1%3A" + std::to_string(page.Port()) +
                                "%2Ffilms%2Fown%2520page.html%3Fsi%3Dx%26t%3D4";
    const HttpReply lookup = HttpGet(service.BaseUrl() + "/api/?url=" + escaped, {}, kClientLimit);
    auto values = ReplyValues(lookup.body);
    ASSERT_EQ("ok", values["status"]) << service.ErrorOutput();
    EXPECT_NE(std::string::npos, values["title"].find("Own page"));
    ASSERT_EQ("2", values["nrecords"]);
    EXPECT_EQ("video/mp4", values["type0"]);
    EXPECT_EQ("audio/mp3", values["type1"]);
    EXPECT_NE(std::string::npos, values["url0"].find("/stream/a-")) << values["url0"];

    const HttpReply stream = HttpGet(values["url0"], {}, kClientLimit);
    EXPECT_EQ(200, stream.status) << service.ErrorOutput();
    EXPECT_TRUE(stream.body == mp4);
}

// yt-dlp reads yt-dlp.conf from the folder it runs in, and such a file can name commands.
TEST_F(ServiceYtDlpTest, AConfigurationInTheServicesFolderIsNeverRead)
{
    TempFolder folder;
    const fs::path marker = folder.Path() / "exec-ran";
    // The unknown option makes a run that reads the file fail outright; --exec would run
    // only in a download.
    folder.Write("yt-dlp.conf",
                 "--exec \"touch " + marker.string() + "\"\n--no-such-option-for-this-test\n");
    ServiceUnderTest inFolder;
    inFolder.RunIn(folder.Path().string());
    ASSERT_TRUE(inFolder.Start({"--resolver", kResolver, "--watch-url", page.Url("/watch?v=%s"),
                                "--resolve-timeout", kResolveSeconds}));
    const auto values =
        ReplyValues(HttpGet(inFolder.BaseUrl() + "/api/?videoid=" + kId, {}, kClientLimit).body);
    EXPECT_EQ("ok", values.count("status") ? values.at("status") : "") << inFolder.ErrorOutput();
    const std::string url = values.count("url0") ? values.at("url0") : "";
    ASSERT_FALSE(url.empty());
    EXPECT_EQ(200, HttpGet(url, {}, kClientLimit).status);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ServiceYtDlpTest, PageTheResolverCannotReadIsAFailWithItsReason)
{
    const HttpReply lookup =
        HttpGet(service.BaseUrl() + "/api/?videoid=NoSuchPage1", {}, kClientLimit);
    ASSERT_TRUE(lookup.received);
    EXPECT_EQ("fail", ReplyValues(lookup.body)["status"]);
    const std::string log = service.ErrorOutput();
    EXPECT_NE(std::string::npos, log.find("lookup \"NoSuchPage1\" failed: the resolver exited"))
        << log;
    EXPECT_NE(std::string::npos, log.find("404")) << log;
}
} // namespace
