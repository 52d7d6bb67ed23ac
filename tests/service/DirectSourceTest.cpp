// Which formats of yt-dlp's description the service fetches itself, and with what.
#include "DirectSource.h"
#include "ResolverJson.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace
{
using nlohmann::json;

json SingleFile()
{
    return json::parse(R"({"format_id": "18", "ext": "mp4", "protocol": "https",
        "url": "https://media.example/v?sig=1", "filesize": 1234,
        "http_headers": {"User-Agent": "agent", "Referer": "https://site.example/",
                         "Accept-Encoding": "gzip", "Range": "bytes=0-", "Cookie": "a=b"}})");
}

TEST(DirectSourceTest, ASingleFileOverHttpCarriesItsAddressHeadersAndExactSize)
{
    const std::optional<DirectSource> source = DirectSource::Read(SingleFile());
    ASSERT_TRUE(source);
    EXPECT_EQ("https://media.example/v?sig=1", source->url);
    // The service sets the range itself, and a compressed body has no ranges of the file.
    EXPECT_EQ((std::vector<std::string>{"Cookie: a=b", "Referer: https://site.example/",
                                        "User-Agent: agent"}),
              source->headers);
    EXPECT_EQ(1234u, source->size);
    EXPECT_FALSE(source->needsCookies);
    json named = SingleFile();
    named["cookies"] = "a=b; Domain=.media.example; Path=/";
    EXPECT_TRUE(DirectSource::Read(named)->needsCookies);

    json approximate = SingleFile();
    approximate.erase("filesize");
    approximate["filesize_approx"] = 1234;
    approximate["protocol"] = "http";
    ASSERT_TRUE(DirectSource::Read(approximate));
    EXPECT_FALSE(DirectSource::Read(approximate)->size) << "an estimate promises no length";
}

TEST(DirectSourceTest, AnythingButOnePlainFileStaysWithYtDlp)
{
    const struct
    {
        const char* field;
        json value;
    } cases[] = {
        {"protocol", "m3u8_native"},
        {"protocol", "http_dash_segments"},
        {"protocol", nullptr},
        {"fragments", json::array({{{"url", "https://media.example/1"}}})},
        {"url", "ftp://media.example/v"},
        {"url", "file:///etc/passwd"},
        {"url", "https://media.example/a b"},
        {"url", 7},
        {"http_headers", {{"X-Split", "a\r\nHost: elsewhere"}}},
        {"http_headers", {{"Bad Name", "x"}}},
        {"http_headers", {{"X-Number", 1}}},
    };
    for (const auto& c : cases)
    {
        json format = SingleFile();
        format[c.field] = c.value;
        EXPECT_FALSE(DirectSource::Read(format)) << c.field << " " << c.value.dump();
    }
}

TEST(DirectSourceTest, OnlyRecordsOfOneFileAsItIsAreFetchedDirectly)
{
    // A merge, an HLS format remuxed and the MP3 of the sound all need yt-dlp or ffmpeg.
    const json info = json::parse(R"({"title": "t", "formats": [
        {"format_id": "140", "ext": "m4a", "vcodec": "none", "acodec": "mp4a.40.2", "abr": 128,
         "protocol": "https", "url": "https://media.example/140"},
        {"format_id": "18", "ext": "mp4", "height": 360, "tbr": 500, "protocol": "https",
         "url": "https://media.example/18"},
        {"format_id": "hls-1", "ext": "mp4", "height": 240, "protocol": "m3u8_native",
         "url": "https://media.example/1.m3u8"},
        {"format_id": "137", "ext": "mp4", "vcodec": "avc1.640028", "acodec": "none",
         "height": 1080, "tbr": 4000, "protocol": "https", "url": "https://media.example/137"}]})");
    ResolvedVideo video;
    std::string error;
    ASSERT_TRUE(MapResolverJson(info, video, error)) << error;
    std::vector<std::string> direct;
    std::vector<std::string> piped;
    for (const ResolvedFormat& f : video.formats)
        (f.direct ? direct : piped).push_back(f.itag);
    EXPECT_EQ((std::vector<std::string>{"18", "140"}), direct);
    EXPECT_EQ((std::vector<std::string>{"137+140", "hls-1", "mp3-of-best-sound"}), piped);
}
} // namespace
