// A catalogue the service cannot use stops it at once, with a message naming the fault.
#include "ServiceHarness.h"

#include <gtest/gtest.h>

namespace
{
struct BadCatalogue
{
    const char* name;
    const char* content; // nullptr: no file at all
    std::vector<std::string> mentioned;
};

// The folder holds a.mp4, b.flv and t.png; anything else a catalogue names is missing.
const char* const kGoodVideo =
    R"({"id":"GoodVideo01","title":"Good","thumbnail":"t.png",
        "streams":[{"itag":18,"type":"video/mp4","quality":"medium","file":"a.mp4"}]})";

std::string Catalogue(const std::string& secondVideo)
{
    return std::string(R"({"videos":[)") + kGoodVideo + "," + secondVideo + "]}";
}

std::vector<BadCatalogue> Cases()
{
    const std::string streams =
        R"("streams":[{"itag":5,"type":"video/x-flv","quality":"small","file":"b.flv"}])";
    static const std::vector<std::string> texts{
        Catalogue(R"({"title":"No id","thumbnail":"t.png",)" + streams + "}"),
        Catalogue(R"({"id":"Short","title":"S","thumbnail":"t.png",)" + streams + "}"),
        Catalogue(R"({"id":"GoodVideo01","title":"Again","thumbnail":"t.png",)" + streams + "}"),
        Catalogue(R"({"id":"NoTitle0001","thumbnail":"t.png",)" + streams + "}"),
        Catalogue(R"({"id":"Thumbless01","title":"T","thumbnail":"gone.png",)" + streams + "}"),
        Catalogue(R"({"id":"MissingFile","title":"M","thumbnail":"t.png","streams":[
            {"itag":18,"type":"video/mp4","quality":"medium","file":"a.mp4"},
            {"itag":5,"type":"video/x-flv","quality":"small","file":"gone.flv"}]})"),
        Catalogue(R"({"id":"OutsideDir1","title":"O","thumbnail":"t.png","streams":[
            {"itag":18,"type":"video/mp4","quality":"medium","file":"../a.mp4"}]})"),
        Catalogue(R"({"id":"AbsoluteDir","title":"A","thumbnail":"t.png","streams":[
            {"itag":18,"type":"video/mp4","quality":"medium","file":"/etc/passwd"}]})"),
        Catalogue(R"({"id":"TextItag001","title":"I","thumbnail":"t.png","streams":[
            {"itag":"18","type":"video/mp4","quality":"medium","file":"a.mp4"}]})"),
        Catalogue(R"({"id":"NoType00001","title":"N","thumbnail":"t.png","streams":[
            {"itag":18,"quality":"medium","file":"a.mp4"}]})"),
        Catalogue(R"({"id":"NoStreams01","title":"N","thumbnail":"t.png"})"),
        Catalogue(R"({"id":"LineBreak01","title":"two\nlines","thumbnail":"t.png",)" + streams +
                  "}"),
    };
    return {
        {"Unreadable", nullptr, {"cannot be read"}},
        {"NotJson", R"({"videos":[{"id":)", {"not valid JSON"}},
        {"NoVideosList", R"({"films":[]})", {"\"videos\""}},
        {"VideoNotAnObject", R"({"videos":[42]})", {"video 1", "not an object"}},
        {"MissingId", texts[0].c_str(), {"video 2", "\"id\" is missing"}},
        {"IdNotElevenCharacters", texts[1].c_str(), {"video 2 (\"Short\")", "5", "11"}},
        {"DuplicateId", texts[2].c_str(), {"video 2 (\"GoodVideo01\")", "twice"}},
        {"MissingTitle", texts[3].c_str(), {"video 2 (\"NoTitle0001\")", "\"title\" is missing"}},
        {"MissingThumbnail", texts[4].c_str(), {"thumbnail", "\"gone.png\" not found"}},
        {"MissingStreamFile",
         texts[5].c_str(),
         {"video 2 (\"MissingFile\"): stream 2: file \"gone.flv\" not found"}},
        {"FileOutsideTheFolder", texts[6].c_str(), {"stream 1", "\"../a.mp4\"", "out of"}},
        {"AbsoluteFile", texts[7].c_str(), {"stream 1", "\"/etc/passwd\"", "not relative"}},
        {"ItagNotANumber", texts[8].c_str(), {"stream 1", "\"itag\""}},
        {"MissingType", texts[9].c_str(), {"stream 1", "\"type\" is missing"}},
        {"NoStreams", texts[10].c_str(), {"video 2 (\"NoStreams01\")", "\"streams\""}},
        {"TitleWithLineBreak", texts[11].c_str(), {"\"title\"", "line break"}},
    };
}

class ServiceBadCatalogueTest : public testing::TestWithParam<BadCatalogue>
{
};

TEST_P(ServiceBadCatalogueTest, ExitsWithAMessageNamingTheFault)
{
    const BadCatalogue& bad = GetParam();
    TempFolder folder;
    folder.Write("a.mp4", "mp4");
    folder.Write("b.flv", "flv");
    folder.Write("t.png", "png");
    const std::string path = bad.content ? folder.Write("catalogue.json", bad.content)
                                         : (folder.Path() / "absent.json").string();

    const Finished run = RunToExit({"--port", "0", "--catalogue", path});

    ASSERT_TRUE(run.exited) << "still running with a bad catalogue";
    EXPECT_NE(0, run.code);
    EXPECT_EQ(std::string::npos, run.out.find("listening on"));
    EXPECT_NE(std::string::npos, run.err.find("catalogue " + path + ": ")) << run.err;
    for (const std::string& words : bad.mentioned)
        EXPECT_NE(std::string::npos, run.err.find(words)) << "\"" << words << "\" in " << run.err;
}

INSTANTIATE_TEST_SUITE_P(Faults, ServiceBadCatalogueTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<BadCatalogue>& info)
                         { return std::string(info.param.name); });

TEST(ServiceCatalogueTest, TheSameFolderWithAGoodCatalogueStarts)
{
    TempFolder folder;
    folder.Write("a.mp4", "mp4");
    folder.Write("t.png", "png");
    const std::string path =
        folder.Write("catalogue.json", std::string(R"({"videos":[)") + kGoodVideo + "]}");
    ServiceUnderTest service;
    ASSERT_TRUE(service.Start({"--catalogue", path}));
    EXPECT_EQ(
        "ok",
        ReplyValues(HttpGet(service.BaseUrl() + "/api/?videoid=GoodVideo01").body).at("status"));
}
} // namespace
