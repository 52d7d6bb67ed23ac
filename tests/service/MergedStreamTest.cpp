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

// The presentation is made and resolved once for the suite: ffmpeg and yt-dlp take seconds
// on a loaded machine.
class MergedStreamTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        for (const char* program : {"yt-dlp", "ffmpeg", "ffprobe"})
            if (!OnPath(program))
                missing = std::string(program) + " is not installed (Debian package " +
                          (std::string(program) == "yt-dlp" ? "yt-dlp" : "ffmpeg") + ")";
        if (!missing.empty())
            return;
        folder = new TempFolder;
        dash = new DashPresentation;
        if (!dash->Start(folder->Path().string(), startError))
            return;
        std::string out;
        const ProgramRun run = ProgramRun::Capture(
            {"yt-dlp", "--dump-single-json", "--no-playlist", "--", dash->ManifestUrl()}, out,
            kResolveLimit);
        if (!run.finished || run.code != 0)
            startError = "yt-dlp failed: " + run.err;
        page = json::parse(out, nullptr, false);
    }

    static void TearDownTestSuite()
    {
        delete dash;
        delete folder;
        dash = nullptr;
        folder = nullptr;
    }

    void SetUp() override
    {
        if (!missing.empty())
            GTEST_SKIP() << missing;
        ASSERT_EQ("", startError);
        ASSERT_TRUE(page.is_object());
    }

    static inline std::string missing, startError;
    static inline TempFolder* folder = nullptr;
    static inline DashPresentation* dash = nullptr;
    static inline json page;
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
    const auto merges = MergedFormats::Find(page["formats"], {});
    ASSERT_EQ(2u, merges.size()) << page["formats"].dump();
    EXPECT_EQ("240p", merges[0].Quality());
    EXPECT_EQ("120p", merges[1].Quality());
    for (const MergedFormats::Merge& merge : merges)
        EXPECT_EQ("video/mp4", merge.type);
}

TEST_F(MergedStreamTest, AMergeStreamedToStandardOutputIsAFragmentedMp4WithBothStreams)
{
    const auto merges = MergedFormats::Find(page["formats"], {});
    ASSERT_FALSE(merges.empty());
    const std::string info = folder->Write("info.json", page.dump());
    std::vector<std::string> command{"yt-dlp", "--load-info-json", info, "-f",
                                     merges[0].Selection()};
    for (const std::string& option : MergedFormats::StreamOptions(merges[0].type))
        command.push_back(option);
    command.insert(command.end(), {"-o", "-"});
    const std::string saved = (folder->Path() / "saved.mp4").string();
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
