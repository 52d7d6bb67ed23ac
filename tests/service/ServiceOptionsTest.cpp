// The command line, read on its own and by the running program; the start-up line, the request
// log and stopping; the demo data itself.
#include "ServiceOptions.h"
#include "ServiceHarness.h"
#include "ServiceSecret.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace
{
const fs::path kDemo = NORVIK_DEMO_DIR;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

const std::string kDefaultCatalogue = "/demo/catalogue.json";

ParsedServiceOptions Parse(const std::vector<std::string>& args)
{
    return ParseServiceOptions(args, kDefaultCatalogue);
}

TEST(ServiceOptionsParseTest, EachOptionReachesItsSettingAndTheRestKeepTheirDefaults)
{
    const ParsedServiceOptions none = Parse({});
    ASSERT_EQ("", none.error);
    EXPECT_FALSE(none.help);
    EXPECT_EQ(8731, none.options.port);
    EXPECT_EQ("127.0.0.1", none.options.bind);
    EXPECT_EQ(kDefaultCatalogue, none.options.catalogue);
    EXPECT_EQ("2.0", none.options.version);
    EXPECT_EQ("yt-dlp", none.options.resolver.program);
    EXPECT_TRUE(none.options.useSecret);

    const std::string secret(ServiceSecret::kShortest, 'a');
    const ParsedServiceOptions all = Parse({"--port",
                                            "0",
                                            "--bind",
                                            "::1",
                                            "--catalogue",
                                            "c.json",
                                            "--version",
                                            "3.1",
                                            "--media-rate",
                                            "4096",
                                            "--resolver",
                                            "none",
                                            "--watch-url",
                                            "http://h/%s",
                                            "--resolve-timeout",
                                            "3600",
                                            "--secret",
                                            secret,
                                            "--max-resolvers",
                                            "64"});
    ASSERT_EQ("", all.error);
    const ServiceOptions& o = all.options;
    EXPECT_EQ(0, o.port);
    EXPECT_EQ("::1", o.bind);
    EXPECT_EQ("c.json", o.catalogue);
    EXPECT_EQ("3.1", o.version);
    EXPECT_EQ(4096u, o.mediaRate);
    EXPECT_EQ("none", o.resolver.program);
    EXPECT_EQ("http://h/%s", o.resolver.watchUrl);
    EXPECT_EQ(std::chrono::seconds(3600), o.resolver.timeout);
    EXPECT_EQ(64u, o.resolver.mostRunning);
    EXPECT_EQ(4u, none.options.resolver.mostRunning);
    EXPECT_EQ(secret, o.secret);
    EXPECT_FALSE(Parse({"--no-secret"}).options.useSecret);
    EXPECT_EQ(65535, Parse({"--port", "65535"}).options.port);
}

TEST(ServiceOptionsParseTest, HelpWinsAndEveryRefusalSaysWhichOption)
{
    EXPECT_TRUE(Parse({"--port", "1", "-h"}).help);
    // Nothing after --help is read: the usage is what was asked for.
    const ParsedServiceOptions help = Parse({"--help", "--colour"});
    EXPECT_TRUE(help.help);
    EXPECT_EQ("", help.error);
    const struct
    {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {
        {{"--colour"}, "unknown option \"--colour\""},
        {{"--bind"}, "--bind needs a value"},
        {{"--port", "65536"}, "--port \"65536\" is not a port number from 0 to 65535"},
        {{"--media-rate", "1000000000000"},
         "--media-rate \"1000000000000\" is not a number of bytes"},
        {{"--resolve-timeout", "3601"},
         "--resolve-timeout \"3601\" is not a number of seconds from 1 to 3600"},
        {{"--watch-url", "x"}, "--watch-url \"x\" must name the id exactly once, as %s"},
        {{"--max-resolvers", "0"}, "--max-resolvers \"0\" is not a number from 1 to 64"},
        {{"--max-resolvers", "65"}, "--max-resolvers \"65\" is not a number from 1 to 64"},
        {{"--secret", "0123456789abcdef0123456789abcdef", "--no-secret"},
         "--secret and --no-secret exclude each other"},
    };
    for (const auto& r : refused)
    {
        SCOPED_TRACE(r.args.front());
        const ParsedServiceOptions parsed = Parse(r.args);
        EXPECT_EQ(r.error, parsed.error);
        EXPECT_FALSE(parsed.help);
    }
}

TEST(ServiceOptionsTest, HelpDescribesEveryOptionAndExits)
{
    const Finished run = RunToExit({"--help"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0, run.code);
    for (const char* word :
         {"--port", "--bind", "--catalogue", "--version", "--media-rate", "--resolver",
          "--watch-url", "--resolve-timeout", "8731", "2.0", "https://www.youtube.com/watch?v=%s",
          "default 12", "--secret", "--no-secret", "--max-resolvers"})
        EXPECT_TRUE(Contains(run.out, word)) << word;
    EXPECT_FALSE(Contains(run.out, "listening on http://127.0.0.1"));
}

TEST(ServiceOptionsTest, UnusableCommandLinesAreRefused)
{
    const std::vector<std::vector<std::string>> lines{
        {"--colour", "red"},
        {"--port"},
        {"--port", "abc"},
        {"--port", "70000"},
        {"--port", "-1"},
        {"--media-rate", "fast"},
        {"--secret", "short"},
        {"--secret", "a/b-0123456789abcdef0123456789"},
        {"--no-secret", "--secret", "0123456789abcdef0123456789abcdef"},
        {"--media-rate", "-5"},
        {"--resolve-timeout", "0"},
        {"--resolve-timeout", "1.5"},
        {"--resolver", ""},
        {"--watch-url", "http://127.0.0.1/watch"},
        {"--watch-url", "http://127.0.0.1/%s/%s"}};
    for (const auto& args : lines)
    {
        SCOPED_TRACE(args.back());
        const Finished run = RunToExit(args);
        ASSERT_TRUE(run.exited);
        EXPECT_NE(0, run.code);
        EXPECT_TRUE(Contains(run.err, args.front())) << run.err;
        EXPECT_FALSE(Contains(run.out, "listening on http://"));
    }
}

TEST(ServiceOptionsTest, WithoutACatalogueItServesTheDemo)
{
    ServiceUnderTest service;
    ASSERT_TRUE(service.Start({}));
    EXPECT_EQ(
        "ok",
        ReplyValues(HttpGet(service.BaseUrl() + "/api/?videoid=NkDemoClip1").body).at("status"));
}

// Anyone on the machine can find the port; only the program that read the line can use it.
TEST(ServiceOptionsTest, EveryPathStartsWithTheSecret)
{
    const std::string given = "Given_secret-0123456789abcdefABCDEF";
    const std::vector<std::string> lookup{"/api/?videoid=NkDemoClip1"};
    ServiceUnderTest made, chosen, open;
    ASSERT_TRUE(made.Start({}));
    ASSERT_TRUE(chosen.Start({"--secret", given}));
    ASSERT_TRUE(open.Start({"--no-secret"}));
    // 128 bits as hexadecimal, fresh each start.
    EXPECT_EQ(33u, made.Path().size()) << made.Path();
    EXPECT_EQ("/" + given, chosen.Path());
    EXPECT_EQ("", open.Path());
    for (const ServiceUnderTest* service : {&made, &chosen})
    {
        const std::string root = "http://127.0.0.1:" + std::to_string(service->Port());
        const std::string secret = service->Path().substr(1);
        for (const std::string& wrong :
             {root, root + "/" + secret.substr(1), root + "/" + secret + "x", root + "/x" + secret})
        {
            SCOPED_TRACE(wrong);
            const HttpReply refused = HttpGet(wrong + "/api/?videoid=NkDemoClip1");
            EXPECT_EQ(404, refused.status);
            EXPECT_EQ(std::string::npos, refused.body.find(secret)) << refused.body;
            EXPECT_EQ(404, HttpGet(wrong + "/hub.php?s=curver").status);
        }
        const auto values = ReplyValues(HttpGet(service->BaseUrl() + lookup[0]).body);
        EXPECT_EQ("ok", values.at("status"));
        EXPECT_EQ(0u, values.at("url0").rfind(service->BaseUrl() + "/media/", 0))
            << values.at("url0");
        EXPECT_EQ(200, HttpGet(service->BaseUrl() + "/hub.php?s=curver").status);
        EXPECT_FALSE(Contains(service->ErrorOutput(), "/" + secret + "/"))
            << "the log keeps the secret";
    }
    EXPECT_EQ(200, HttpGet(open.BaseUrl() + lookup[0]).status);
}

TEST(ServiceOptionsTest, APortInUseIsReportedAndEndsTheService)
{
    ServiceUnderTest first;
    ASSERT_TRUE(first.Start({}));
    const std::string port = std::to_string(first.Port());
    const Finished second = RunToExit({"--port", port});
    ASSERT_TRUE(second.exited);
    EXPECT_NE(0, second.code);
    EXPECT_TRUE(Contains(second.err, "cannot listen")) << second.err;
    EXPECT_TRUE(Contains(second.err, port)) << second.err;
}

TEST(ServiceOptionsTest, LogsOneLinePerRequestAndEndsCleanlyOnTerm)
{
    ServiceUnderTest service;
    ASSERT_TRUE(service.Start({}));
    ASSERT_EQ(200, HttpGet(service.BaseUrl() + "/hub.php?s=curver").status);
    ASSERT_EQ(404, HttpGet(service.BaseUrl() + "/media/nothing.mp4").status);
    ASSERT_EQ(206, HttpGet(service.BaseUrl() + "/media/clip1.mp4", {"Range: bytes=0-99"}).status);
    EXPECT_EQ(0, service.Stop());
    // A line is written once its reply has gone out, so a client's next request, served on
    // another thread, may be logged first: the lines are compared as a set.
    std::multiset<std::string> lines;
    std::istringstream log(service.ErrorOutput());
    for (std::string line; std::getline(log, line);)
        lines.insert(line);
    EXPECT_EQ((std::multiset<std::string>{"GET /SECRET/hub.php?s=curver 200 16",
                                          "GET /SECRET/media/nothing.mp4 404 10",
                                          "GET /SECRET/media/clip1.mp4 206 100"}),
              lines);
    ASSERT_FALSE(service.ErrorOutput().empty());
    EXPECT_EQ('\n', service.ErrorOutput().back());
}

// The demo must offer every kind of stream the program handles, in a few hundred KB.
TEST(ServiceDemoTest, DemoOffersEveryFormatInLittleSpace)
{
    constexpr std::uintmax_t kDemoLimitBytes = 500 * 1024;
    constexpr std::size_t kIdLength = 11;
    constexpr unsigned char kFirstNonAscii = 0x80;
    const nlohmann::json catalogue = nlohmann::json::parse(ReadFileBytes(kDemo / "catalogue.json"));
    std::set<std::string> types;
    std::set<std::string> thumbnails;
    bool nonAsciiTitle = false;
    bool colonTitle = false;
    for (const nlohmann::json& video : catalogue["videos"])
    {
        EXPECT_EQ(kIdLength, video["id"].get<std::string>().size());
        thumbnails.insert(video["thumbnail"].get<std::string>());
        const std::string title = video["title"];
        for (unsigned char c : title)
            nonAsciiTitle = nonAsciiTitle || c >= kFirstNonAscii;
        colonTitle = colonTitle || Contains(title, ":");
        for (const nlohmann::json& stream : video["streams"])
            types.insert(stream["type"].get<std::string>());
    }
    EXPECT_GE(catalogue["videos"].size(), 3u);
    EXPECT_EQ(catalogue["videos"].size(), thumbnails.size()) << "each video its own thumbnail";
    for (const char* type : {"video/mp4", "video/webm", "video/3gpp", "audio/m4a", "video/x-flv"})
        EXPECT_EQ(1u, types.count(type)) << type;
    EXPECT_TRUE(nonAsciiTitle);
    EXPECT_TRUE(colonTitle);

    std::uintmax_t total = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kDemo))
        total += entry.is_regular_file() ? entry.file_size() : 0;
    EXPECT_LT(total, kDemoLimitBytes);
}

std::size_t BigEndian(const std::string& bytes, std::size_t at, std::size_t count)
{
    constexpr int kBitsPerByte = 8;
    std::size_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << kBitsPerByte | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The sound format of an FLV's first audio tag, or -1 when it has none. A tag is a type byte,
// a 3-byte data size, 7 bytes of time and stream id, the data, then a 4-byte back pointer;
// an audio tag's first data byte holds the sound format in its top four bits.
int FirstFlvSoundFormat(const std::string& flv)
{
    constexpr std::size_t kHeaderSizeAt = 5;
    constexpr std::size_t kHeaderSizeBytes = 4;
    constexpr std::size_t kBackPointerBytes = 4;
    constexpr std::size_t kTagHeaderBytes = 11;
    constexpr std::size_t kDataSizeBytes = 3;
    constexpr std::size_t kAudioTag = 8;
    constexpr int kSoundFormatShift = 4;
    if (flv.compare(0, 3, "FLV") != 0 || flv.size() < kHeaderSizeAt + kHeaderSizeBytes)
        return -1;
    std::size_t at = BigEndian(flv, kHeaderSizeAt, kHeaderSizeBytes) + kBackPointerBytes;
    while (at + kTagHeaderBytes < flv.size())
    {
        if (BigEndian(flv, at, 1) == kAudioTag)
            return int(BigEndian(flv, at + kTagHeaderBytes, 1)) >> kSoundFormatShift;
        at += kTagHeaderBytes + BigEndian(flv, at + 1, kDataSizeBytes) + kBackPointerBytes;
    }
    return -1;
}

TEST(ServiceDemoTest, EveryDemoFlvCarriesMp3Sound)
{
    constexpr int kMp3SoundFormat = 2;
    int flvs = 0;
    const nlohmann::json catalogue = nlohmann::json::parse(ReadFileBytes(kDemo / "catalogue.json"));
    for (const nlohmann::json& video : catalogue["videos"])
        for (const nlohmann::json& stream : video["streams"])
            if (stream["type"] == "video/x-flv")
            {
                ++flvs;
                const std::string file = stream["file"];
                EXPECT_EQ(kMp3SoundFormat, FirstFlvSoundFormat(ReadFileBytes(kDemo / file)))
                    << file;
            }
    EXPECT_GE(flvs, 1);
}
} // namespace
