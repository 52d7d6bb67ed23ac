// The real resolver and ffmpeg merge a video-only and a sound-only format of a page of the
// test's own into one playable stream, offline.
#include "DashPresentation.h"
#include "MergedFormats.h"
#include "ProgramRun.h"
#include "ServiceHarness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <filesystem>

namespace
{
using nlohmann::json;
namespace fs = std::filesystem;

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
TEST_F(MergedStreamTest, TheServiceOffersTheMergeAndItsStreamIsAPlayableMp4)
{
    ServiceUnderTest service;
    ASSERT_TRUE(
        service.Start({"--resolver", "yt-dlp", "--watch-url", dash->ManifestUrl() + "?v=%s"}));
    const HttpReply reply =
        HttpGet(service.BaseUrl() + "/api/?videoid=DashMerge01", {}, kResolveLimit);
    ASSERT_TRUE(reply.received);
    auto values = ReplyValues(reply.body);
    ASSERT_EQ("ok", values["status"]) << service.ErrorOutput();
    // The tallest merge first, then the smaller one, then the sound alone and its MP3.
    EXPECT_EQ("4", values["nrecords"]);
    EXPECT_EQ("0+2", values["itag0"]);
    EXPECT_EQ("video/mp4", values["type0"]);
    EXPECT_EQ("240p", values["quality0"]);
    EXPECT_EQ("1+2", values["itag1"]);
    EXPECT_EQ("120p", values["quality1"]);
    EXPECT_EQ("audio/m4a", values["type2"]);

    const HttpReply stream = HttpGet(values["url0"], {}, kResolveLimit);
    ASSERT_TRUE(stream.received) << service.ErrorOutput();
    ASSERT_EQ(200, stream.status);
    EXPECT_EQ("chunked", stream.Header("transfer-encoding"));
    const std::string saved = folder->Write("through-service.mp4", stream.body);
    const Probe probe = ProbeFile(saved);
    EXPECT_EQ((std::vector<std::string>{"h264", "aac"}), probe.codecs);
    EXPECT_NEAR(DashPresentation::kSeconds, probe.duration, kDurationSlack);
}
// A page whose picture and sound come as two plain files, as a video site's do; the picture
// file's connection can be cut halfway. The resolver describes the page from a file and
// streams with the real yt-dlp.
TEST_F(MergedStreamTest, AMergeWhoseSourceIsCutMidwayEndsAsACutTransfer)
{
    const fs::path dashFolder = folder->Path();
    const std::string video = ReadFileBytes(dashFolder / "init-stream0.m4s") +
                              ReadFileBytes(dashFolder / "chunk-stream0-00001.m4s");
    const std::string sound = ReadFileBytes(dashFolder / "init-stream2.m4s") +
                              ReadFileBytes(dashFolder / "chunk-stream2-00001.m4s");
    ASSERT_GT(video.size(), 1000u);
    std::atomic<bool> cut{false}; // written by the test, read by the server's threads
    TestHttpServer files;
    files.Routes().Get("/video.mp4",
                       [&](const httplib::Request&, httplib::Response& res)
                       {
                           const std::size_t sent = cut ? video.size() / 2 : video.size();
                           res.set_content_provider(
                               video.size(), "video/mp4",
                               [&, sent](std::size_t offset, std::size_t, httplib::DataSink& sink)
                               {
                                   // Past the cut the connection closes with bytes owed.
                                   return offset < sent &&
                                          sink.write(video.data() + offset, sent - offset);
                               });
                       });
    files.Routes().Get("/sound.m4a", [&](const httplib::Request&, httplib::Response& res)
                       { res.set_content(sound, "audio/mp4"); });
    ASSERT_TRUE(files.Start());

    const json page{{"id", "SplitFiles1"},
                    {"title", "Two files"},
                    {"extractor", "generic"},
                    {"extractor_key", "Generic"},
                    {"webpage_url", files.Url("/")},
                    {"formats",
                     {{{"format_id", "a"},
                       {"url", files.Url("/sound.m4a")},
                       {"ext", "m4a"},
                       {"vcodec", "none"},
                       {"acodec", "mp4a.40.2"},
                       {"protocol", "http"}},
                      {{"format_id", "v"},
                       {"url", files.Url("/video.mp4")},
                       {"ext", "mp4"},
                       {"vcodec", "avc1.42c00d"},
                       {"acodec", "none"},
                       {"height", 240},
                       {"protocol", "http"}}}}};
    const std::string description = folder->Write("split.json", page.dump());
    const std::string resolver = folder->Write(
        "split-resolver", "#!/bin/sh\ncase \"$*\" in *--dump-single-json*) exec cat '" +
                              description + "';; esac\nexec yt-dlp \"$@\"\n");
    chmod(resolver.c_str(), S_IRWXU);

    ServiceUnderTest service;
    ASSERT_TRUE(service.Start({"--resolver", resolver}));
    auto values = ReplyValues(HttpGet(service.BaseUrl() + "/api/?videoid=SplitFiles1").body);
    ASSERT_EQ("v+a", values["itag0"]) << service.ErrorOutput();
    const HttpReply whole = HttpGet(values["url0"], {}, kResolveLimit);
    ASSERT_TRUE(whole.received) << service.ErrorOutput();
    EXPECT_EQ((std::vector<std::string>{"h264", "aac"}),
              ProbeFile(folder->Write("whole.mp4", whole.body)).codecs);

    cut = true;
    const HttpReply broken = HttpGet(values["url0"], {}, kResolveLimit);
    EXPECT_FALSE(broken.received) << "a cut source gave a complete reply of " << broken.body.size()
                                  << " bytes";
}
} // namespace
