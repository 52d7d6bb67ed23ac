// A resolved video's records with merges among them, and its picture served by the service
// itself, with a resolver of the test's own that prints a recorded description.
#include "ServiceHarness.h"
#include "TestHttpServer.h"
#include "TestPictures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace
{
using nlohmann::json;
using namespace TestPictures;

const std::string kId = "PictureTest";
constexpr std::size_t kTooLarge = 2 * 1024 * 1024 + 1;

json Format(const std::string& id, const char* ext, const char* vcodec, const char* acodec,
            int height, double tbr)
{
    json format{{"format_id", id}, {"ext", ext}, {"vcodec", vcodec},   {"acodec", acodec},
                {"tbr", tbr},      {"url", "x"}, {"protocol", "https"}};
    if (height > 0)
        format["height"] = height;
    return format;
}

class ResolvedPictureTest : public testing::Test
{
protected:
    void SetUp() override
    {
        auto& routes = pictures.Routes();
        ServeJpeg(routes);
        routes.Get("/sd.webp", [](const httplib::Request&, httplib::Response& res)
                   { res.set_content(kWebp, "image/webp"); });
        routes.Get("/huge.jpg", [](const httplib::Request&, httplib::Response& res)
                   { res.set_content(kJpeg + std::string(kTooLarge, 'x'), "image/jpeg"); });
        ASSERT_TRUE(pictures.Start());
    }

    // Starts the service with a resolver that describes a page with these thumbnails.
    void StartWith(const json& thumbnails)
    {
        json page{{"title", "A real video"},
                  {"thumbnails", thumbnails},
                  {"formats", json::array({
                                  Format("140", "m4a", "none", "mp4a.40.2", 0, 129),
                                  Format("251", "webm", "none", "opus", 0, 135),
                                  Format("18", "mp4", "avc1.42001E", "mp4a.40.2", 360, 500),
                                  Format("136", "mp4", "avc1.4d401f", "none", 720, 1300),
                                  Format("247", "webm", "vp9", "none", 720, 1100),
                                  Format("137", "mp4", "avc1.640028", "none", 1080, 4000),
                              })}};
        const std::string description = folder.Write("page.json", page.dump());
        runs = (folder.Path() / "runs").string();
        const std::string resolver = folder.Write(
            "resolver", "#!/bin/sh\necho run >> '" + runs + "'\nexec cat '" + description + "'\n");
        chmod(resolver.c_str(), S_IRWXU);
        ASSERT_TRUE(service.Start({"--resolver", resolver}));
    }

    std::map<std::string, std::string> Lookup()
    {
        const HttpReply reply = HttpGet(service.BaseUrl() + "/api/?videoid=" + kId);
        EXPECT_TRUE(reply.received);
        return ReplyValues(reply.body);
    }

    json Thumb(const std::string& path, int width)
    {
        return {{"url", pictures.Url(path)}, {"width", width}};
    }

    TempFolder folder;
    std::string runs; // one line for each run of the resolver
    TestHttpServer pictures;
    ServiceUnderTest service;
};

TEST_F(ResolvedPictureTest, MergedRecordsStandAmongTheOthersByHeight)
{
    StartWith(json::array());
    auto values = Lookup();
    ASSERT_EQ("ok", values["status"]);
    const std::vector<std::vector<std::string>> expected{
        {"137+140", "video/mp4", "1080p"}, {"136+140", "video/mp4", "720p"},
        {"18", "video/mp4", "360p"},       {"251", "audio/webm", "135k"},
        {"140", "audio/m4a", "129k"},      {"mp3-of-best-sound", "audio/mp3", "audio/music"}};
    ASSERT_EQ(std::to_string(expected.size()), values["nrecords"]);
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        const std::string n = std::to_string(i);
        EXPECT_EQ(expected[i][0], values["itag" + n]);
        EXPECT_EQ(expected[i][1], values["type" + n]);
        EXPECT_EQ(expected[i][2], values["quality" + n]);
    }
    EXPECT_EQ(service.BaseUrl() + "/stream/" + kId + "/137%2B140", values["url0"]);
    EXPECT_EQ("", values["thumbnail"]);
}

TEST_F(ResolvedPictureTest, TheJpegAfterAWebpIsServedFromTheServiceItself)
{
    StartWith(json::array({Thumb("/sd.webp", 640), Thumb("/hq.jpg", 480)}));
    auto values = Lookup();
    ASSERT_EQ("ok", values["status"]);
    ASSERT_EQ(service.BaseUrl() + "/picture/" + kId, values["thumbnail"]);
    const HttpReply picture = HttpGet(values["thumbnail"]);
    ASSERT_TRUE(picture.received);
    EXPECT_EQ(200, picture.status);
    EXPECT_EQ(kJpeg, picture.body);
    EXPECT_EQ("image/jpeg", picture.Header("content-type"));
    EXPECT_EQ(std::to_string(kJpeg.size()), picture.Header("content-length"));
}

TEST_F(ResolvedPictureTest, APictureBehindARedirectIsFetched)
{
    StartWith(json::array({Thumb("/moved.jpg", 480)}));
    auto values = Lookup();
    ASSERT_EQ(service.BaseUrl() + "/picture/" + kId, values["thumbnail"]);
    EXPECT_EQ(kJpeg, HttpGet(values["thumbnail"]).body);
}

TEST_F(ResolvedPictureTest, APictureTooLargeOrMissingLeavesTheLookupWithoutOne)
{
    for (const char* path : {"/huge.jpg", "/missing.jpg"})
    {
        SCOPED_TRACE(path);
        StartWith(json::array({Thumb(path, 480)}));
        auto values = Lookup();
        EXPECT_EQ("ok", values["status"]);
        EXPECT_EQ("", values["thumbnail"]);
        EXPECT_EQ("6", values["nrecords"]) << "five formats and the MP3";
        EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/picture/" + kId).status);
        EXPECT_NE(std::string::npos, service.ErrorOutput().find("picture of " + kId));
        service.Stop();
    }
}

TEST_F(ResolvedPictureTest, AskingForAPictureNeverStartsTheResolver)
{
    StartWith(json::array({Thumb("/hq.jpg", 480)}));
    EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/picture/" + kId).status);
    EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/picture/..%2Fetc").status);
    EXPECT_EQ("", ReadFileBytes(runs));
    Lookup();
    EXPECT_EQ(200, HttpGet(service.BaseUrl() + "/picture/" + kId).status);
    EXPECT_EQ("run\n", ReadFileBytes(runs));
}
} // namespace
