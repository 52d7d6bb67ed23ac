// Pages of other sites looked up by address, whose streams the service converts: the sound of
// a clip as MP3, and an HLS presentation's MPEG-TS remuxed to MP4. The real yt-dlp and ffmpeg,
// against pages of the test's own on loopback.
#include "ProgramRun.h"
#include "ServiceHarness.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>

namespace
{
using nlohmann::json;

constexpr double kClipSeconds = 2.0;
// The duration ffprobe finds may differ from the source's by about a frame of sound.
constexpr double kDurationSlack = 0.1;
const char* const kTitle = "Tone for the MP3 test";
const char* const kResolveSeconds = "40";
constexpr auto kClientLimit = std::chrono::seconds(60);
constexpr auto kToolLimit = std::chrono::seconds(60);

// Every byte outside the unreserved set escaped, as Norvik sends an address.
std::string Escaped(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text)
    {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
            out += char(c);
        else
        {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

struct Probe
{
    std::string container;
    std::string soundCodec;
    double duration = 0;
    std::string title;
};

// Reads the duration from the packets: a streamed MP3 has no header that tells it.
Probe ProbeFile(const std::string& file)
{
    std::string out;
    const ProgramRun run = ProgramRun::Capture(
        {"ffprobe", "-v", "error", "-show_entries",
         "format=format_name,duration:format_tags=title:stream=codec_type,codec_name", "-of",
         "json", file},
        out, kToolLimit);
    Probe probe;
    const json found = json::parse(out, nullptr, false);
    if (!run.finished || run.code != 0 || !found.is_object())
        return probe;
    for (const json& stream : found.value("streams", json::array()))
        if (stream.value("codec_type", "") == "audio")
            probe.soundCodec = stream.value("codec_name", "");
    const json format = found.value("format", json::object());
    probe.container = format.value("format_name", "");
    probe.duration = std::stod(format.value("duration", "0"));
    probe.title = format.value("tags", json::object()).value("title", "");
    return probe;
}

bool MakeMedia(const std::vector<std::string>& output, std::string& error)
{
    std::vector<std::string> argv = {"ffmpeg",
                                     "-nostdin",
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "testsrc=size=160x120:rate=25",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine=frequency=440:sample_rate=44100",
                                     "-t",
                                     std::to_string(kClipSeconds),
                                     "-c:v",
                                     "libx264",
                                     "-preset",
                                     "ultrafast",
                                     "-pix_fmt",
                                     "yuv420p",
                                     "-c:a",
                                     "aac"};
    argv.insert(argv.end(), output.begin(), output.end());
    const ProgramRun made = ProgramRun::Run(argv, "/dev/null", kToolLimit);
    error = made.err;
    return made.finished && made.code == 0;
}

class ConvertedStreamTest : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* program : {"yt-dlp", "ffmpeg", "ffprobe"})
            if (!OnPath(program))
                GTEST_SKIP() << program << " is not installed: conversions are not tested";
        ASSERT_TRUE(page.Routes().set_mount_point("/", folder.Path().string()));
        ASSERT_TRUE(page.Start());
        ASSERT_TRUE(service.Start({"--resolver", "yt-dlp", "--resolve-timeout", kResolveSeconds}));
    }

    // The reply to a lookup of the address.
    std::map<std::string, std::string> LookUp(const std::string& address)
    {
        const HttpReply reply =
            HttpGet(service.BaseUrl() + "/api/?url=" + Escaped(address), {}, kClientLimit);
        return ReplyValues(reply.body);
    }

    // Streams a record into a file of the folder; its path, or empty.
    std::string Save(const std::string& url, const std::string& name)
    {
        const HttpReply stream = HttpGet(url, {}, kClientLimit);
        if (!stream.received || stream.status != 200)
            return "";
        return folder.Write(name, stream.body);
    }

    TempFolder folder;
    TestHttpServer page;
    ServiceUnderTest service;
};

TEST_F(ConvertedStreamTest, TheSoundOfAClipWithAacIsOfferedAndStreamedAsMp3)
{
    std::string error;
    ASSERT_TRUE(MakeMedia({(folder.Path() / "clip.mp4").string()}, error)) << error;
    folder.Write("page.html", std::string("<html><head><title>") + kTitle +
                                  "</title></head><body><video><source src=\"clip.mp4\" "
                                  "type=\"video/mp4\"></video></body></html>");
    auto values = LookUp(page.Url("/page.html"));
    ASSERT_EQ("ok", values["status"]) << service.ErrorOutput();
    ASSERT_EQ("2", values["nrecords"]);
    EXPECT_EQ("video/mp4", values["type0"]);
    EXPECT_EQ("audio/mp3", values["type1"]);
    EXPECT_EQ("audio/music", values["quality1"]);

    const std::string saved = Save(values["url1"], "saved.mp3");
    ASSERT_FALSE(saved.empty()) << service.ErrorOutput();
    const Probe probe = ProbeFile(saved);
    EXPECT_EQ("mp3", probe.container);
    EXPECT_EQ("mp3", probe.soundCodec);
    EXPECT_NEAR(kClipSeconds, probe.duration, kDurationSlack);
    EXPECT_NE(std::string::npos, probe.title.find(kTitle)) << probe.title;
}

TEST_F(ConvertedStreamTest, AnHlsPresentationIsStreamedAsMp4)
{
    std::string error;
    ASSERT_TRUE(MakeMedia({"-f", "hls", "-hls_time", "1", "-hls_list_size", "0",
                           (folder.Path() / "show.m3u8").string()},
                          error))
        << error;
    auto values = LookUp(page.Url("/show.m3u8"));
    ASSERT_EQ("ok", values["status"]) << service.ErrorOutput();
    std::string url;
    for (int i = 0; i < std::stoi(values["nrecords"]); ++i)
        if (values["type" + std::to_string(i)] == "video/mp4")
            url = values["url" + std::to_string(i)];
    ASSERT_FALSE(url.empty()) << "no MP4 record";

    const std::string saved = Save(url, "saved.mp4");
    ASSERT_FALSE(saved.empty()) << service.ErrorOutput();
    const Probe probe = ProbeFile(saved);
    EXPECT_NE(std::string::npos, probe.container.find("mp4")) << probe.container;
    EXPECT_EQ("aac", probe.soundCodec);
    EXPECT_NEAR(kClipSeconds, probe.duration, kDurationSlack);
}

TEST_F(ConvertedStreamTest, AnAddressOfAnotherSchemeIsRefusedWithoutARun)
{
    auto values = LookUp("file:///etc/passwd");
    EXPECT_EQ("fail", values["status"]);
    EXPECT_EQ("unavailable", values["reason"]);
    EXPECT_EQ(std::string::npos, service.ErrorOutput().find("exited"));
}
} // namespace
