// Which video-only formats are offered merged with sound, and as what.
#include "MergedFormats.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace
{
using nlohmann::json;

json Format(const std::string& id, const char* vcodec, const char* acodec, int height, double tbr,
            double size = 0)
{
    json format{{"format_id", id},  {"ext", "mp4"}, {"vcodec", vcodec},
                {"acodec", acodec}, {"tbr", tbr},   {"protocol", "https"}};
    if (height > 0)
        format["height"] = height;
    if (size > 0)
        format["filesize"] = size;
    return format;
}

std::vector<std::string> Summary(const std::vector<MergedFormats::Merge>& merges)
{
    std::vector<std::string> lines;
    for (const MergedFormats::Merge& m : merges)
        lines.push_back(m.Selection() + " " + m.type + " " + m.Quality());
    return lines;
}

// Shaped like a video site's page today: sound with picture only at 360p (format 18).
const MergedFormats::Best kSiteBest{360, 500};
json SitePage()
{
    return json::array({
        Format("sb0", "none", "none", 45, 0),
        Format("139", "none", "mp4a.40.5", 0, 48, 1000),
        Format("140", "none", "mp4a.40.2", 0, 129, 2000),
        Format("251", "none", "opus", 0, 135, 2100),
        Format("160", "avc1.4d400c", "none", 144, 100),
        Format("134", "avc1.4d401e", "none", 360, 300),
        Format("243", "vp9", "none", 360, 290),
        Format("18", "avc1.42001E", "mp4a.40.2", 360, 500),
        Format("136", "avc1.4d401f", "none", 720, 1300, 50000),
        Format("247", "vp9", "none", 720, 1500, 60000),
        Format("137", "avc1.640028", "none", 1080, 4000),
        Format("248", "vp09.00.40.08", "none", 1080, 2600),
        Format("399", "av01.0.08M.08", "none", 1080, 2200),
        Format("400", "av01.0.12M.08", "none", 1440, 6000),
        Format("330", "vp9.2", "none", 2160, 0),
    });
}

TEST(MergedFormats, OneMergeForEachHeightAboveTheBestFormatWithSound)
{
    json page = SitePage();
    page[0]["ext"] = "mhtml";
    EXPECT_EQ((std::vector<std::string>{"330+251 video/webm 2160p", "400+251 video/webm 1440p",
                                        "137+140 video/mp4 1080p", "247+251 video/webm 720p"}),
              Summary(MergedFormats::Find(page, kSiteBest)));
}

TEST(MergedFormats, SoundGoesWithAVideoOfItsOwnContainer)
{
    // Only AAC: VP9 and AV1 have nothing to go with; only Opus: H.264 has nothing.
    const json aacOnly = json::array({Format("248", "vp9", "none", 1080, 2600),
                                      Format("136", "avc1", "none", 720, 1300),
                                      Format("140", "none", "mp4a.40.2", 0, 129)});
    EXPECT_EQ((std::vector<std::string>{"136+140 video/mp4 720p"}),
              Summary(MergedFormats::Find(aacOnly, {})));
    const json opusOnly = json::array({Format("137", "avc1", "none", 1080, 4000),
                                       Format("247", "vp9", "none", 720, 1500),
                                       Format("251", "none", "opus", 0, 135)});
    EXPECT_EQ((std::vector<std::string>{"247+251 video/webm 720p"}),
              Summary(MergedFormats::Find(opusOnly, {})));
    // Pairs of other codecs are left out, and so is a video without a height to name it.
    const json others = json::array(
        {Format("v1", "hevc", "none", 1080, 3000), Format("v2", "avc1", "none", 0, 3000),
         Format("a1", "none", "mp3", 0, 320), Format("a2", "none", "vorbis", 0, 160)});
    EXPECT_TRUE(MergedFormats::Find(others, {}).empty());
}

TEST(MergedFormats, AsTallAsTheBestWithSoundCountsOnlyAtAHigherBitrate)
{
    const MergedFormats::Best k720{720, 1500};
    const json page = json::array({Format("22", "avc1", "mp4a", 720, 1500),
                                   Format("136", "avc1", "none", 720, 1300),
                                   Format("140", "none", "mp4a", 0, 129)});
    EXPECT_TRUE(MergedFormats::Find(page, k720).empty());
    json better = page;
    better[1]["tbr"] = 2500;
    EXPECT_EQ((std::vector<std::string>{"136+140 video/mp4 720p"}),
              Summary(MergedFormats::Find(better, k720)));
}

TEST(MergedFormats, AGenericPageWithUnknownCodecsHasNothingToMerge)
{
    json progressive{{"format_id", "0"}, {"ext", "mp4"}, {"url", "http://x/clip.mp4"}};
    EXPECT_TRUE(MergedFormats::Find(json::array({progressive}), {}).empty());
    EXPECT_TRUE(MergedFormats::Find(json::object(), {}).empty());
}

TEST(MergedFormats, SizeAndBitrateAddBothPartsAndSizeStaysUnknownWhenOneIs)
{
    const auto merges = MergedFormats::Find(SitePage(), kSiteBest);
    ASSERT_EQ(4u, merges.size());
    const MergedFormats::Merge& p720 = merges[3];
    ASSERT_TRUE(p720.size.has_value());
    EXPECT_EQ(62100u, *p720.size);
    EXPECT_DOUBLE_EQ(1635, p720.bitrate);
    EXPECT_FALSE(merges[2].size.has_value());
}

} // namespace
