// The real resolver and ffmpeg merge a video-only and a sound-only format of a page of the
// test's own into one playable stream, offline.
#include "DashPresentation.h"
#include "MergedFormats.h"
#include "ProgramRun.h"
#include "ServiceHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>

namespace
{
using nlohmann::json;

constexpr auto kResolveLimit = std::chrono::seconds(60);
// The duration ffprobe finds may differ from the source's by about a frame of sound.
constexpr double kDurationSlack = 0.1;

class MergedStreamTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* program : {"yt-dlp", "ffmpeg", "ffprobe"})
            if (!OnPath(program))
                GTEST_SKIP() << program << " is not installed (Debian package "
                             << (std::string(program) == "yt-dlp" ? "yt-dlp" : "ffmpeg") << ")";
        std::string error;
        ASSERT_TRUE(dash.Start(folder.Path().string(), error)) << error;
    }

    json Resolve()
    {
        std::string out;
        const ProgramRun run = ProgramRun::Capture(
            {"yt-dlp", "--dump-single-json", "--no-playlist", "--", dash.ManifestUrl()}, out,
            kResolveLimit);
        EXPECT_TRUE(run.finished && run.code == 0) << run.err;
        return json::parse(out, nullptr, false);
    }

    TempFolder folder;
    DashPresentation dash;
};

// What ffprobe finds: codec names of the streams, the duration, the container's names.
struct Probe
{
    std::vector<std::string> codecs;
    double duration = 0;
    std::string container;
};

Probe ProbeFile(const std::string& file)
{
    std::string out;
    const ProgramRun run =
        ProgramRun::Capture({"ffprobe", "-v", "error", "-show_entries",
                             "format=duration,format_name:stream=codec_name", "-of", "json", file},
                            out, kResolveLimit);
    Probe probe;
    const json found = json::parse(out, nullptr, false);
    if (!run.finished || run.code != 0 || !found.is_object())
        return probe;
    for (const json& stream : found.value("streams", json::array()))
        probe.codecs.push_back(stream.value("codec_name", ""));
    probe.duration = std::stod(found["format"].value("duration", "0"));
    probe.container = found["format"].value("format_name", "");
    return probe;
}

TEST_F(MergedStreamTest, TheResolverFindsVideoOnlyAndSoundOnlyFormatsAndEachHeightIsMerged)
{
    const json page = Resolve();
    ASSERT_TRUE(page.is_object());
    const auto merges = MergedFormats::Find(page["formats"]);
    ASSERT_EQ(2u, merges.size()) << page["formats"].dump();
    EXPECT_EQ("240p", merges[0].Quality());
    EXPECT_EQ("120p", merges[1].Quality());
    for (const MergedFormats::Merge& merge : merges)
        EXPECT_EQ("video/mp4", merge.type);
}

TEST_F(MergedStreamTest, AMergeStreamedToStandardOutputIsAFragmentedMp4WithBothStreams)
{
    const json page = Resolve();
    ASSERT_TRUE(page.is_object());
    const auto merges = MergedFormats::Find(page["formats"]);
    ASSERT_FALSE(merges.empty());
    const std::string info = folder.Write("info.json", page.dump());
    std::vector<std::string> command{"yt-dlp", "--load-info-json", info, "-f",
                                     merges[0].Selection()};
    for (const std::string& option : MergedFormats::StreamOptions(merges[0].type))
        command.push_back(option);
    command.insert(command.end(), {"-o", "-"});
    const std::string saved = (folder.Path() / "saved.mp4").string();
    const ProgramRun run = ProgramRun::Run(command, saved, kResolveLimit);
    ASSERT_TRUE(run.finished && run.code == 0) << run.err;

    const Probe probe = ProbeFile(saved);
    EXPECT_NE(std::string::npos, probe.container.find("mp4")) << probe.container;
    EXPECT_EQ((std::vector<std::string>{"h264", "aac"}), probe.codecs);
    EXPECT_NEAR(DashPresentation::kSeconds, probe.duration, kDurationSlack);
    // Written to a pipe, an MP4 can only be read back when every fragment carries its index.
    EXPECT_NE(std::string::npos, ReadFileBytes(saved).find("moof"));
}
} // namespace
