// Choosing, fetching and keeping the picture of a resolved video.
#include "ProgramRun.h"
#include "ServiceHarness.h"
#include "TestHttpServer.h"
#include "TestPictures.h"
#include "ThumbnailFetcher.h"
#include "ThumbnailPicker.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

namespace
{
using nlohmann::json;

using namespace TestPictures;

TEST(ThumbnailPicker, ChoosesTheWidestJpegOrPngThatFitsThePreview)
{
    // The pages' addresses all begin with https://i.example/ and are written without it.
    struct Case
    {
        const char* what;
        const char* page;
        const char* chosen;
    };
    const Case cases[] = {
        {"WebP first, JPEG after",
         R"({"thumbnails": [{"url": "maxres.webp", "width": 1280}, {"url": "sd.webp", "width": 640},
                            {"url": "hq.jpg?sqp=-oaymwE", "width": 480}]})",
         "hq.jpg?sqp=-oaymwE"},
        {"widest at most 640",
         R"({"thumbnails": [{"url": "default.jpg", "width": 120}, {"url": "sd.jpg", "width": 640},
                            {"url": "mq.png", "width": 320}, {"url": "maxres.jpg", "width": 1280},
                            {"url": "sd.webp", "width": 640}]})",
         "sd.jpg"},
        {"no widths: the last, as the list runs worst to best",
         R"({"thumbnails": [{"url": "a.jpg"}, {"url": "b.JPEG"}, {"url": "c.webp"}]})", "b.JPEG"},
        {"a known fitting width beats an unknown one",
         R"({"thumbnails": [{"url": "a.jpg", "width": 336}, {"url": "b.jpg"}]})", "a.jpg"},
        {"only wider ones: the narrowest",
         R"({"thumbnails": [{"url": "x.jpg", "width": 1920}, {"url": "y.jpg", "width": 1280}]})",
         "y.jpg"},
        {"only WebP", R"({"thumbnails": [{"url": "a.webp", "width": 320}]})", ""},
        {"the ending only counts in the path", R"({"thumbnail": "a.webp?fake=.jpg"})", ""},
        {"no list: the single address", R"({"thumbnail": "hq.png"})", "hq.png"},
        {"broken entries are passed over",
         R"({"thumbnails": [3, {"url": "a.jpg", "width": -5}, {"url": 7}]})", "a.jpg"},
        {"no thumbnails", R"({})", ""},
        {"not a page", R"([])", ""},
    };
    const std::string base = "https://i.example/";
    for (const Case& c : cases)
    {
        // Every relative address is made absolute; a chosen one then carries the base too.
        std::string text = c.page;
        for (std::size_t at = 0; (at = text.find("\"url\": \"", at)) != std::string::npos;)
            at = text.insert(at + 8, base).find('"', at + 8);
        for (std::size_t at = 0; (at = text.find("\"thumbnail\": \"", at)) != std::string::npos;)
            at = text.insert(at + 14, base).find('"', at + 14);
        const std::string chosen = *c.chosen ? base + c.chosen : "";
        EXPECT_EQ(chosen, ThumbnailPicker::Choose(json::parse(text))) << c.what;
    }
    // Nothing but the web: a page may name a file of the machine the service runs on.
    EXPECT_EQ("", ThumbnailPicker::Choose(
                      json::parse(R"({"thumbnails": [{"url": "file:///etc/passwd.jpg"}]})")));
}

class ThumbnailFetcherTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    void SetUp() override
    {
        auto& routes = server.Routes();
        ServeJpeg(routes);
        routes.Get("/mq.png", [](const httplib::Request&, httplib::Response& res)
                   { res.set_content(kPng, "image/png"); });
        routes.Get("/loop.jpg", [](const httplib::Request&, httplib::Response& res)
                   { res.set_redirect("/loop.jpg"); });
        routes.Get("/webp.jpg", [](const httplib::Request&, httplib::Response& res)
                   { res.set_content(kWebp, "image/jpeg"); });
        routes.Get("/huge.jpg", [](const httplib::Request&, httplib::Response& res)
                   { res.set_content(kJpeg + std::string(kSmallLimit, 'x'), "image/jpeg"); });
        // No length up front: only the bytes themselves can tell it is too large.
        routes.Get(
            "/endless.jpg",
            [](const httplib::Request&, httplib::Response& res)
            {
                res.set_chunked_content_provider(
                    "image/jpeg",
                    [](std::size_t offset, httplib::DataSink& sink)
                    {
                        const std::string block = offset == 0 ? kJpeg : std::string(512, 'x');
                        return offset < 4 * kSmallLimit && sink.write(block.data(), block.size());
                    });
            });
        routes.Get("/slow.jpg",
                   [](const httplib::Request&, httplib::Response& res)
                   {
                       std::this_thread::sleep_for(kSlowServer);
                       res.set_content(kJpeg, "image/jpeg");
                   });
        ASSERT_TRUE(server.Start());
    }

    static constexpr std::size_t kSmallLimit = 4096;
    static constexpr auto kOpensslLimit = std::chrono::seconds(30);
    static constexpr auto kSlowServer = std::chrono::milliseconds(1500);
    static constexpr auto kShortLimit = std::chrono::milliseconds(300);
    TestHttpServer server;
};

TEST_F(ThumbnailFetcherTest, FetchesJpegAndPngAndFollowsRedirects)
{
    const ThumbnailFetcher fetcher;
    struct Case
    {
        const char* path;
        const std::string& bytes;
        const char* type;
    };
    for (const Case& c : {Case{"/hq.jpg", kJpeg, "image/jpeg"}, Case{"/mq.png", kPng, "image/png"},
                          Case{"/moved.jpg", kJpeg, "image/jpeg"}})
    {
        ThumbnailFetcher::Picture picture;
        std::string error;
        EXPECT_TRUE(fetcher.Fetch(server.Url(c.path), picture, error)) << c.path << error;
        EXPECT_EQ(c.bytes, picture.bytes) << c.path;
        EXPECT_EQ(c.type, picture.type) << c.path;
    }
}

TEST_F(ThumbnailFetcherTest, RefusesWhatIsNotAPictureOfBoundedSizeAndTime)
{
    const ThumbnailFetcher fetcher(kSmallLimit, kShortLimit);
    struct Case
    {
        std::string url;
        const char* reason;
    };
    const Case cases[] = {
        {server.Url("/huge.jpg"), "larger than"},       {server.Url("/endless.jpg"), "larger than"},
        {server.Url("/webp.jpg"), "not a JPEG or PNG"}, {server.Url("/missing.jpg"), "HTTP"},
        {server.Url("/loop.jpg"), "redirect"},          {server.Url("/slow.jpg"), "imeout"},
        {"http://127.0.0.1:1/refused.jpg", "onnect"},
    };
    for (const Case& c : cases)
    {
        ThumbnailFetcher::Picture picture;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(fetcher.Fetch(c.url, picture, error)) << c.url;
        EXPECT_NE(std::string::npos, error.find(c.reason)) << c.url << ": " << error;
        EXPECT_TRUE(picture.bytes.empty()) << c.url;
        EXPECT_LT(std::chrono::steady_clock::now() - start, kSlowServer) << c.url;
    }
}

// The picture comes from a page on the web: a server whose certificate nobody vouches for
// is refused, as any other HTTPS client would.
TEST_F(ThumbnailFetcherTest, RefusesAnHttpsServerWithAnUnverifiedCertificate)
{
    if (!OnPath("openssl"))
        GTEST_SKIP() << "openssl is not installed";
    TempFolder keys;
    const std::string cert = (keys.Path() / "cert.pem").string();
    const std::string key = (keys.Path() / "key.pem").string();
    std::string out;
    const ProgramRun made =
        ProgramRun::Capture({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                             "/CN=127.0.0.1", "-days", "1", "-keyout", key, "-out", cert},
                            out, kOpensslLimit);
    ASSERT_TRUE(made.finished && made.code == 0) << made.err;
    httplib::SSLServer tls(cert.c_str(), key.c_str());
    ASSERT_TRUE(tls.is_valid());
    tls.Get("/hq.jpg", [](const httplib::Request&, httplib::Response& res)
            { res.set_content(kJpeg, "image/jpeg"); });
    const int port = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { tls.listen_after_bind(); });
    ThumbnailFetcher::Picture picture;
    std::string error;
    const bool fetched = ThumbnailFetcher().Fetch(
        "https://127.0.0.1:" + std::to_string(port) + "/hq.jpg", picture, error);
    tls.stop();
    serving.join();
    EXPECT_FALSE(fetched);
    EXPECT_NE(std::string::npos, error.find("SSL")) << error;
    EXPECT_TRUE(picture.bytes.empty());
}

TEST_F(ThumbnailFetcherTest, ReadsNoLocalFileWhateverThePageNames)
{
    TempFolder folder;
    const std::string local = folder.Write("secret.jpg", kJpeg);
    ThumbnailFetcher::Picture picture;
    std::string error;
    EXPECT_FALSE(ThumbnailFetcher().Fetch("file://" + local, picture, error));
    EXPECT_TRUE(picture.bytes.empty());
}

} // namespace
