// The video replies and the version endpoint, against the demo catalogue and the test's own.
#include "ServiceHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace
{
const fs::path kDemo = NORVIK_DEMO_DIR;

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

nlohmann::json DemoCatalogue()
{
    return nlohmann::json::parse(ReadFileBytes(kDemo / "catalogue.json"));
}

class ServiceApiTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.Start({"--catalogue", (kDemo / "catalogue.json").string()}));
    }

    std::map<std::string, std::string> Lookup(const std::string& query)
    {
        const HttpReply reply = HttpGet(service.BaseUrl() + "/api/" + query);
        EXPECT_TRUE(reply.received);
        EXPECT_EQ(200, reply.status);
        return ReplyValues(reply.body);
    }

    ServiceUnderTest service;
};

TEST_F(ServiceApiTest, DemoReplyListsEveryStreamWithItsSizeOnDisk)
{
    const nlohmann::json catalogue = DemoCatalogue();
    ASSERT_GE(catalogue["videos"].size(), 3u);
    for (const nlohmann::json& video : catalogue["videos"])
    {
        const std::string id = video["id"];
        SCOPED_TRACE(id);
        auto values = Lookup("?videoid=" + id);
        EXPECT_EQ("ok", values["status"]);
        EXPECT_EQ(video["title"], values["title"]);
        EXPECT_FALSE(values["cleanedtitle"].empty());
        EXPECT_EQ(service.BaseUrl() + "/thumbs/" + video["thumbnail"].get<std::string>(),
                  values["thumbnail"]);
        const nlohmann::json& streams = video["streams"];
        ASSERT_EQ(std::to_string(streams.size()), values["nrecords"]);
        for (std::size_t i = 0; i < streams.size(); ++i)
        {
            const std::string n = std::to_string(i);
            const std::string file = streams[i]["file"];
            EXPECT_EQ(std::to_string(streams[i]["itag"].get<int>()), values["itag" + n]);
            EXPECT_EQ(streams[i]["type"], values["type" + n]);
            EXPECT_EQ(streams[i]["quality"], values["quality" + n]);
            EXPECT_EQ(std::to_string(fs::file_size(kDemo / file)), values["size" + n]);
            EXPECT_EQ(service.BaseUrl() + "/media/" + file, values["url" + n]);
        }
        EXPECT_EQ(0u, values.count("itag" + std::to_string(streams.size())));
    }
}

TEST_F(ServiceApiTest, EveryAddressInADemoReplyServesTheFileItNames)
{
    const std::map<std::string, std::string> typeOfEnding{
        {".mp4", "video/mp4"}, {".webm", "video/webm"}, {".3gp", "video/3gpp"},
        {".m4a", "audio/mp4"}, {".flv", "video/x-flv"}, {".png", "image/png"},
        {".jpg", "image/jpeg"}};
    // Held in a local: a range over a member of the temporary would outlive the temporary.
    const nlohmann::json catalogue = DemoCatalogue();
    for (const nlohmann::json& video : catalogue["videos"])
    {
        auto values = Lookup("?videoid=" + video["id"].get<std::string>());
        std::vector<std::pair<std::string, std::string>> served{
            {values["thumbnail"], video["thumbnail"]}};
        for (std::size_t i = 0; i < video["streams"].size(); ++i)
            served.emplace_back(values["url" + std::to_string(i)], video["streams"][i]["file"]);
        for (const auto& [url, file] : served)
        {
            SCOPED_TRACE(url);
            const HttpReply reply = HttpGet(url);
            ASSERT_TRUE(reply.received);
            EXPECT_EQ(200, reply.status);
            EXPECT_TRUE(reply.body == ReadFileBytes(kDemo / file));
            EXPECT_EQ(typeOfEnding.at(fs::path(file).extension().string()),
                      reply.Header("content-type"));
        }
    }
}

TEST_F(ServiceApiTest, UnknownOrMissingIdFails)
{
    for (const std::string query :
         {"?videoid=NoSuchVideo", "?videoid=", "", "?v=NkDemoClip1", "?videoid=NkDemoClip1x"})
    {
        SCOPED_TRACE(query);
        const HttpReply reply = HttpGet(service.BaseUrl() + "/api/" + query);
        ASSERT_TRUE(reply.received);
        EXPECT_EQ("status:fail", reply.body.substr(0, reply.body.find('\n')));
        EXPECT_EQ(0u, ReplyValues(reply.body).count("nrecords"));
    }
}

TEST_F(ServiceApiTest, AddressesFollowTheHostTheClientAskedFor)
{
    const std::string host = "localhost:" + std::to_string(service.Port());
    const HttpReply reply =
        HttpGet(service.BaseUrl() + "/api/?videoid=NkDemoClip1", {"Host: " + host});
    auto values = ReplyValues(reply.body);
    const std::string base = "http://" + host + service.Path();
    EXPECT_TRUE(StartsWith(values["thumbnail"], base + "/thumbs/")) << values["thumbnail"];
    EXPECT_TRUE(StartsWith(values["url0"], base + "/media/")) << values["url0"];
}

// A page whose name was rebound to loopback sends its own name: it gets nothing, whatever it
// asks for, and nothing of the service's addresses.
TEST_F(ServiceApiTest, AForeignHostIsMisdirected)
{
    const std::string port = std::to_string(service.Port());
    for (const std::string& host : {"media.example:" + port, std::string("127.0.0.1:1"),
                                    std::string("127.0.0.1"), "localhost.example:" + port})
    {
        SCOPED_TRACE(host);
        for (const std::string& path : {std::string("/api/?videoid=NkDemoClip1"),
                                        std::string("/media/clip1.mp4"), std::string("/x")})
        {
            const HttpReply reply = HttpGet(service.BaseUrl() + path, {"Host: " + host});
            EXPECT_EQ(421, reply.status);
            EXPECT_EQ(std::string::npos, reply.body.find("http://")) << reply.body;
        }
    }
    EXPECT_EQ(200,
              HttpGet(service.BaseUrl() + "/hub.php?s=curver", {"Host: [::1]:" + port}).status);
}

TEST_F(ServiceApiTest, WithoutAHostAddressesNameTheListeningAddress)
{
    const HttpReply reply = RawExchange(
        service.Port(), "GET " + service.Path() + "/api/?videoid=NkDemoClip1 HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(reply.received);
    auto values = ReplyValues(reply.body);
    EXPECT_TRUE(StartsWith(values["url0"], service.BaseUrl() + "/media/")) << values["url0"];
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(service.Port()) + service.Path(),
              service.BaseUrl());
}

TEST_F(ServiceApiTest, TextRepliesIgnoreRanges)
{
    const HttpReply whole = HttpGet(service.BaseUrl() + "/api/?videoid=NkDemoClip2");
    const HttpReply ranged =
        HttpGet(service.BaseUrl() + "/api/?videoid=NkDemoClip2", {"Range: bytes=0-3"});
    EXPECT_EQ(200, ranged.status);
    EXPECT_EQ(whole.body, ranged.body);
}

TEST_F(ServiceApiTest, CurverPublishesTwoPointZeroUnlessToldOtherwise)
{
    const HttpReply reply = HttpGet(service.BaseUrl() + "/hub.php?s=curver");
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ("ROVOVIVOZ_VC2.0\n", reply.body);
    EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/hub.php?s=other").status);
    EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/hub.php").status);
}

TEST(ServiceVersionTest, CurverPublishesTheVersionGiven)
{
    ServiceUnderTest service;
    ASSERT_TRUE(service.Start({"--version", "2.1"}));
    const HttpReply reply = HttpGet(service.BaseUrl() + "/hub.php?s=curver");
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ("ROVOVIVOZ_VC2.1\n", reply.body);
}

// A catalogue of the test's own, with a title full of the characters names must not carry.
class ServiceOwnCatalogueTest : public testing::Test
{
protected:
    void Serve(const std::string& title, const std::string& streamFile)
    {
        folder.Write("t.png", "thumbnail bytes");
        folder.Write(streamFile, "stream bytes");
        nlohmann::json catalogue = {{"videos",
                                     {{{"id", "OwnVideo001"},
                                       {"title", title},
                                       {"thumbnail", "t.png"},
                                       {"streams",
                                        {{{"itag", 18},
                                          {"type", "video/mp4"},
                                          {"quality", "medium"},
                                          {"file", streamFile}}}}}}}};
        const std::string path = folder.Write("catalogue.json", catalogue.dump());
        ASSERT_TRUE(service.Start({"--catalogue", path}));
        values = ReplyValues(HttpGet(service.BaseUrl() + "/api/?videoid=OwnVideo001").body);
    }

    TempFolder folder;
    ServiceUnderTest service;
    std::map<std::string, std::string> values;
};

TEST_F(ServiceOwnCatalogueTest, CleanedTitleKeepsLettersAndDropsWhatNamesCannotHold)
{
    const std::string title = "  .Odd/Name: \"quoted\" <a|b>?*\\ Ærø, part-2_final.  ";
    Serve(title, "a.mp4");
    EXPECT_EQ(title, values["title"]);
    EXPECT_EQ("Odd Name quoted a b Ærø, part-2_final.", values["cleanedtitle"]);
}

TEST_F(ServiceOwnCatalogueTest, TitleOfOnlyOddCharactersFallsBackToTheId)
{
    Serve(":::", "a.mp4");
    EXPECT_EQ("OwnVideo001", values["cleanedtitle"]);
}

TEST_F(ServiceOwnCatalogueTest, FilesInSubfoldersAndWithSpacesAreAddressable)
{
    Serve("Clip", "clips/a b#1.mp4");
    EXPECT_EQ(service.BaseUrl() + "/media/clips/a%20b%231.mp4", values["url0"]);
    const HttpReply reply = HttpGet(values["url0"]);
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ("stream bytes", reply.body);
    EXPECT_EQ("12", values["size0"]);
}
} // namespace
