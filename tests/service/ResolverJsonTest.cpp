// The mapping of yt-dlp's description to reply records, and the id checks, without processes.
#include "ResolverJson.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace
{
using nlohmann::json;

std::vector<std::string> Itags(const ResolvedVideo& video)
{
    std::vector<std::string> itags;
    for (const ResolvedFormat& f : video.formats)
        itags.push_back(f.itag);
    return itags;
}

TEST(ResolverJsonTest, VideoIdsAreElevenSafeCharacters)
{
    EXPECT_TRUE(IsValidVideoId("AbCdEfGhI-_"));
    EXPECT_TRUE(IsValidVideoId("--version12"));
    for (const char* bad : {"", "AbCdEfGhIj", "AbCdEfGhIjKl", "AbCdEf hIjK", "AbCdEf+hIjK",
                            "AbCdEf/hIjK", "AbCdEf\nhIjK", "AbCdEfGhIj\xc3\xa9"})
        EXPECT_FALSE(IsValidVideoId(bad)) << bad;
}

TEST(ResolverJsonTest, FormatIdsMayJoinFormatsWithPlus)
{
    for (const char* good : {"18", "hls-720p", "137+140", "dash_1"})
        EXPECT_TRUE(IsValidFormatId(good)) << good;
    for (const char* bad : {"", "18.mp4", "..", "18 ", "a/b", "a;b", "b\x1b"})
        EXPECT_FALSE(IsValidFormatId(bad)) << bad;
    EXPECT_FALSE(IsValidFormatId(std::string(65, 'a')));
}

TEST(ResolverJsonTest, GenericPageWithoutCodecsGivesPlayableRecords)
{
    // The shape yt-dlp's generic extractor gives for <video><source …>: no codecs at all.
    const json info = json::parse(R"({"title": "Loopback page", "formats": [
        {"format_id": "0", "ext": "webm", "vcodec": null, "url": "http://127.0.0.1/a.webm"},
        {"format_id": "1", "ext": "mp4", "vcodec": null, "url": "http://127.0.0.1/a.mp4"}]})");
    ResolvedVideo video;
    std::string error;
    ASSERT_TRUE(MapResolverJson(info, video, error)) << error;
    EXPECT_EQ("Loopback page", video.title);
    EXPECT_EQ("", video.thumbnail);
    // Equal in every measure: yt-dlp's own order (best last) decides.
    EXPECT_EQ((std::vector<std::string>{"1", "0", kMp3FormatId}), Itags(video));
    EXPECT_EQ("video/mp4", video.formats[0].type);
    EXPECT_EQ("video/webm", video.formats[1].type);
    EXPECT_EQ("", video.formats[0].size);
    EXPECT_EQ("1", video.formats[0].selection);
}

TEST(ResolverJsonTest, SoundOnlyIsOrderedByItsBitrateAndLabelledInKilobits)
{
    const json info = json::parse(R"({"formats": [
        {"format_id": "a", "ext": "mp3", "vcodec": "none", "acodec": "mp3", "abr": 64},
        {"format_id": "b", "ext": "m4a", "vcodec": "none", "acodec": "aac", "tbr": 255.6},
        {"format_id": "c", "ext": "mp4", "vcodec": "none", "acodec": "aac", "abr": 300}]})");
    ResolvedVideo video;
    std::string error;
    ASSERT_TRUE(MapResolverJson(info, video, error)) << error;
    // Sound alone in an mp4 container has no type of the program's table: left out.
    ASSERT_EQ((std::vector<std::string>{"b", "a", kMp3FormatId}), Itags(video));
    EXPECT_EQ("256k", video.formats[0].quality);
    EXPECT_EQ("audio/m4a", video.formats[0].type);
    EXPECT_EQ("64k", video.formats[1].quality);
    EXPECT_EQ("audio/mp3", video.formats[1].type);
}

// A page may claim anything; converting 1e300 to an integer is undefined and gave
// "-9223372036854775808p".
TEST(ResolverJsonTest, NumbersOutOfRangeAreClampedOrIgnored)
{
    const json info = json::parse(R"({"formats": [
        {"format_id": "huge", "ext": "mp4", "height": 1e300, "tbr": 1e300, "filesize": 1e300},
        {"format_id": "neg", "ext": "mp4", "height": -720, "tbr": -5, "filesize": -1,
         "filesize_approx": 2048, "format_note": "odd"},
        {"format_id": "snd", "ext": "m4a", "vcodec": "none", "abr": 1e300, "filesize": 1e20},
        {"format_id": "v", "ext": "mp4", "vcodec": "avc1", "acodec": "none", "height": 1e300},
        {"format_id": "a", "ext": "m4a", "vcodec": "none", "acodec": "mp4a", "filesize": 1e300}]})");
    ResolvedVideo video;
    std::string error;
    ASSERT_TRUE(MapResolverJson(info, video, error)) << error;
    ASSERT_EQ((std::vector<std::string>{"huge", "neg", "snd", "a", kMp3FormatId}), Itags(video));
    EXPECT_EQ("100000p", video.formats[0].quality);
    EXPECT_EQ("1000000000000000", video.formats[0].size);
    // A negative height or rate says nothing: the note stands in, the approximate size counts.
    EXPECT_EQ("odd", video.formats[1].quality);
    EXPECT_EQ("2048", video.formats[1].size);
    EXPECT_EQ("1000000000000000k", video.formats[2].quality);
    EXPECT_EQ("1000000000000000", video.formats[2].size);
}

TEST(ResolverJsonTest, UnusableDescriptionsSayWhy)
{
    const struct
    {
        const char* text;
        const char* why;
    } cases[] = {
        {R"([1, 2])", "not a JSON object"},
        {R"({"title": "x"})", "no formats"},
        {R"({"formats": {}})", "no formats"},
        {R"({"formats": []})", "no formats"},
        {R"({"formats": [{"format_id": "137", "ext": "mp4", "acodec": "none"},
                         {"format_id": "sb0", "ext": "mhtml"}, "junk"]})",
         "none of its 3 formats"},
    };
    for (const auto& c : cases)
    {
        ResolvedVideo video;
        std::string error;
        EXPECT_FALSE(MapResolverJson(json::parse(c.text), video, error)) << c.text;
        EXPECT_NE(std::string::npos, error.find(c.why)) << error;
    }
}
} // namespace

namespace
{
TEST(ResolverJsonTest, TheMp3OfTheBestSoundEndsTheRecordsAndHlsIsRemuxed)
{
    const json info = json::parse(R"({"title": "T", "uploader": "U", "formats": [
        {"format_id": "low", "ext": "m4a", "vcodec": "none", "acodec": "mp4a", "abr": 48},
        {"format_id": "high", "ext": "m4a", "vcodec": "none", "acodec": "mp4a", "abr": 128},
        {"format_id": "hls-1", "ext": "mp4", "protocol": "m3u8_native", "height": 360},
        {"format_id": "plain", "ext": "mp4", "protocol": "https", "height": 240}]})");
    ResolvedVideo video;
    std::string error;
    ASSERT_TRUE(MapResolverJson(info, video, error)) << error;
    EXPECT_EQ("U", video.uploader);
    ASSERT_EQ((std::vector<std::string>{"hls-1", "plain", "high", "low", kMp3FormatId}),
              Itags(video));
    EXPECT_EQ(StreamConversion::Remux, video.formats[0].conversion);
    EXPECT_EQ(StreamConversion::None, video.formats[1].conversion);
    EXPECT_EQ(StreamConversion::None, video.formats[2].conversion);
    const ResolvedFormat& mp3 = video.formats.back();
    EXPECT_EQ("high", mp3.selection);
    EXPECT_EQ("audio/mp3", mp3.type);
    EXPECT_EQ("audio/music", mp3.quality);
    EXPECT_EQ(StreamConversion::Mp3, mp3.conversion);

    // Without sound alone, the best single format with sound is converted; the list stays
    // within its bound with the MP3 in it.
    json many = json::parse(R"({"formats": []})");
    for (int i = 0; i < 40; ++i)
        many["formats"].push_back(
            {{"format_id", "f" + std::to_string(i)}, {"ext", "mp4"}, {"height", 100 + i}});
    ASSERT_TRUE(MapResolverJson(many, video, error)) << error;
    ASSERT_EQ(kMostResolvedFormats, video.formats.size());
    EXPECT_EQ("f39", video.formats.back().selection);
    EXPECT_EQ(StreamConversion::Mp3, video.formats.back().conversion);
}
} // namespace
