// Ids the catalogue does not hold, answered through a resolver program: here a fake one that
// prints a recorded description and streams bytes that depend on the format.
#include "ProcessEnd.h"
#include "ServiceHarness.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <fstream>
#include <future>
#include <set>
#include <signal.h>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
const std::string kFake = NORVIK_FAKE_RESOLVER;
const fs::path kDemo = NORVIK_DEMO_DIR;
const std::string kId = "AbCdEfGhI-_";
constexpr auto kGoneLimit = std::chrono::seconds(5);
// Above the time-bound test's resolver limit, with room for a loaded machine.
constexpr auto kLookupClientLimit = std::chrono::seconds(20);
constexpr auto kPoll = std::chrono::milliseconds(20);
// What the fake streams for format 18 and before its failure in format 22.
constexpr std::size_t kWholeStreamBytes = 250000;
constexpr std::size_t kBytesBeforeFailure = 100000;

// A format id as it stands in an address: the "+" of a merge is escaped.
std::string EncodedPath(std::string itag)
{
    const std::size_t plus = itag.find('+');
    return plus == std::string::npos ? itag : itag.replace(plus, 1, "%2B");
}

std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char(i % 256);
    return bytes;
}

struct ResolverRun
{
    std::string what;
    std::string subject;
    long pid = 0;
    fs::path folder; // where a stream ran
};

// Reads and streams the service's resolver has been asked for, bounded by size.
class ServiceResolverTest : public testing::Test
{
protected:
    bool StartWith(const std::string& mode, std::vector<std::string> more = {})
    {
        std::vector<std::string> args{
            "--catalogue", (kDemo / "catalogue.json").string(),
            "--resolver",  kFake,
            "--watch-url", "fake:" + mode + ":" + folder.Path().string() + ":%s"};
        args.insert(args.end(), more.begin(), more.end());
        return service.Start(args);
    }

    std::vector<ResolverRun> Runs() const
    {
        std::vector<ResolverRun> runs;
        std::ifstream in(folder.Path() / "runs");
        std::string line;
        while (std::getline(in, line))
        {
            std::istringstream fields(line);
            ResolverRun run;
            fields >> run.what >> run.subject >> run.pid;
            std::string folder;
            std::getline(fields >> std::ws, folder);
            run.folder = folder;
            runs.push_back(run);
        }
        return runs;
    }

    // The first run of this kind (and subject, when one is named), waiting for it at most a
    // few seconds.
    ResolverRun WaitForRun(const std::string& what, const std::string& subject = {}) const
    {
        const auto deadline = Clock::now() + kGoneLimit;
        while (Clock::now() < deadline)
        {
            for (const ResolverRun& run : Runs())
                if (run.what == what && (subject.empty() || run.subject == subject))
                    return run;
            std::this_thread::sleep_for(kPoll);
        }
        return {};
    }

    std::map<std::string, std::string> Lookup(const std::string& id)
    {
        const HttpReply reply =
            HttpGet(service.BaseUrl() + "/api/?videoid=" + id, {}, kLookupClientLimit);
        EXPECT_TRUE(reply.received);
        EXPECT_EQ(200, reply.status);
        return ReplyValues(reply.body);
    }

    TempFolder folder;
    ServiceUnderTest service;
};

TEST_F(ServiceResolverTest, ReplyListsFormatsWithPictureAndSoundFirstThenSoundBestFirst)
{
    ASSERT_TRUE(StartWith("ok"));
    auto values = Lookup(kId);
    ASSERT_EQ("ok", values["status"]);
    // Line breaks cannot travel in a reply value; the clean title keeps letters and a few marks.
    EXPECT_EQ("Recorded page: with a line break / and \"quotes\"", values["title"]);
    EXPECT_EQ("Recorded page with a line break and quotes", values["cleanedtitle"]);
    // The picture cannot be fetched from an invalid host: the reply names none.
    EXPECT_EQ("", values["thumbnail"]);
    // Video-only formats (137, 248) stand only in a merge with sound, the storyboard, an id
    // that cannot be streamed and a container without a file extension in the program (ogg)
    // are left out.
    const struct
    {
        const char* itag;
        const char* type;
        const char* quality;
        const char* size;
    } expected[] = {
        {"137+140", "video/mp4", "1080p", "93100000"},
        {"22", "video/mp4", "720p", "25000000"},
        {"43", "video/webm", "360p", ""},
        {"18", "video/mp4", "360p", "250000"},
        {"hls-x", "video/mp4", "240p", ""},
        {"17", "video/3gpp", "144p", "900000"},
        {"251", "audio/webm", "160k", "3900001"},
        {"140", "audio/m4a", "129k", "3100000"},
        {"249", "audio/webm", "50k", "1200345"},
        {"mp3-of-best-sound", "audio/mp3", "audio/music", ""},
    };
    ASSERT_EQ(std::to_string(std::size(expected)), values["nrecords"]);
    for (std::size_t i = 0; i < std::size(expected); ++i)
    {
        const std::string n = std::to_string(i);
        SCOPED_TRACE(expected[i].itag);
        EXPECT_EQ(expected[i].itag, values["itag" + n]);
        EXPECT_EQ(expected[i].type, values["type" + n]);
        EXPECT_EQ(expected[i].quality, values["quality" + n]);
        EXPECT_EQ(expected[i].size, values["size" + n]);
        EXPECT_EQ(service.BaseUrl() + "/stream/" + kId + "/" + EncodedPath(expected[i].itag),
                  values["url" + n]);
    }
}

TEST_F(ServiceResolverTest, AtMostThirtyTwoRecordsTheHighestFirst)
{
    ASSERT_TRUE(StartWith("many"));
    auto values = Lookup(kId);
    ASSERT_EQ("32", values["nrecords"]);
    EXPECT_EQ("m39", values["itag0"]);
    EXPECT_EQ("39p", values["quality0"]);
    // The MP3 of the sound takes the last place.
    EXPECT_EQ("m9", values["itag30"]);
    EXPECT_EQ("mp3-of-best-sound", values["itag31"]);
}

TEST_F(ServiceResolverTest, SameIdWithinMinutesIsAnsweredFromTheCache)
{
    ASSERT_TRUE(StartWith("ok"));
    const std::string first = HttpGet(service.BaseUrl() + "/api/?videoid=" + kId).body;
    const std::string second = HttpGet(service.BaseUrl() + "/api/?videoid=" + kId).body;
    EXPECT_EQ(first, second);
    EXPECT_EQ(1u, Runs().size());
    // A stream of a looked-up video reuses the lookup: one more run, a stream, no lookup.
    HttpGet(service.BaseUrl() + "/stream/" + kId + "/18");
    const std::vector<ResolverRun> runs = Runs();
    ASSERT_EQ(2u, runs.size());
    EXPECT_EQ("stream", runs[1].what);
}

TEST_F(ServiceResolverTest, CatalogueIdsNeverStartTheResolver)
{
    ASSERT_TRUE(StartWith("ok"));
    EXPECT_EQ("ok", Lookup("NkDemoClip1")["status"]);
    EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/stream/NkDemoClip1/18").status);
    EXPECT_TRUE(Runs().empty());
}

TEST_F(ServiceResolverTest, BadIdsAndFormatIdsNeverReachAProcess)
{
    ASSERT_TRUE(StartWith("ok"));
    for (const std::string id : {"AbCdEfGhIj", "AbCdEfGhIjKL", "AbCdEf%20hIj", "AbCdEf;hIjK",
                                 "AbCdEf%2FhIj", "AbCdEf.hIjK", ""})
    {
        SCOPED_TRACE(id);
        auto values = Lookup(id);
        EXPECT_EQ("fail", values["status"]);
        // No video has such an id.
        EXPECT_EQ("unavailable", values["reason"]);
        EXPECT_EQ("not a video id", values["message"]);
        EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/stream/" + id + "/18").status);
    }
    for (const std::string format : {"18;x", "18%20", "..", "18.mp4", "%2E%2E", "a%0Ab"})
    {
        SCOPED_TRACE(format);
        EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/stream/" + kId + "/" + format).status);
    }
    EXPECT_TRUE(Runs().empty());
}

TEST_F(ServiceResolverTest, EachResolverFailureIsAFailReplyAndOneLogLineSayingWhy)
{
    const std::string botCheck = "ERROR: [youtube] " + kId +
                                 ": Sign in to confirm you\u2019re not a bot. Use "
                                 "--cookies-from-browser or --cookies for the authentication.";
    const struct
    {
        const char* mode;
        const char* why;
        const char* reason;
        std::string message; // yt-dlp's line, or the log's words when it gave none
    } cases[] = {{"fail", "exited with status 1: ERROR: [youtube] AbCdEfGhI-_: Video unavailable",
                  "unavailable", "ERROR: [youtube] AbCdEfGhI-_: Video unavailable"},
                 {"botcheck", "exited with status 1: ERROR: [youtube]", "sign-in", botCheck},
                 {"nojson", "printed no JSON", "other", "the resolver printed no JSON"},
                 // A success with pictures alone, explained by the warning before it.
                 {"nojs", "none of its 1 formats", "no-js-runtime",
                  "WARNING: [youtube] No supported JavaScript runtime could be found. YouTube "
                  "extraction without a JS runtime has been deprecated, and some formats may be "
                  "missing."},
                 {"noformats", "lists no formats", "other", "the description lists no formats"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mode);
        ServiceUnderTest one;
        ASSERT_TRUE(
            one.Start({"--resolver", kFake, "--watch-url",
                       std::string("fake:") + c.mode + ":" + folder.Path().string() + ":%s"}));
        auto values = ReplyValues(HttpGet(one.BaseUrl() + "/api/?videoid=" + kId).body);
        EXPECT_EQ("fail", values["status"]);
        EXPECT_EQ(c.reason, values["reason"]);
        EXPECT_EQ(c.message, values["message"]);
        const std::string log = one.ErrorOutput();
        EXPECT_NE(std::string::npos, log.find(c.why)) << log;
        EXPECT_NE(std::string::npos, log.find(kId)) << log;
        // Failures are not remembered: the next request tries again.
        HttpGet(one.BaseUrl() + "/api/?videoid=" + kId);
        EXPECT_EQ(2u, Runs().size());
        fs::remove(folder.Path() / "runs");
    }
}

TEST_F(ServiceResolverTest, MissingResolverIsSaidOnceAtStartAndOnEveryLookup)
{
    ServiceUnderTest one;
    ASSERT_TRUE(one.Start({"--resolver", (folder.Path() / "no-such-program").string()}));
    EXPECT_NE(std::string::npos, one.ErrorOutput().find("cannot be run"));
    auto missing = ReplyValues(HttpGet(one.BaseUrl() + "/api/?videoid=" + kId).body);
    EXPECT_EQ("fail", missing["status"]);
    EXPECT_EQ("no-resolver", missing["reason"]);
    EXPECT_NE(std::string::npos, missing["message"].find("no-such-program")) << missing["message"];
    EXPECT_EQ("ok",
              ReplyValues(HttpGet(one.BaseUrl() + "/api/?videoid=NkDemoClip2").body)["status"]);
    const std::string log = one.ErrorOutput();
    EXPECT_NE(std::string::npos, log.find("lookup \"" + kId + "\" failed: cannot run")) << log;

    ServiceUnderTest off;
    ASSERT_TRUE(off.Start({"--resolver", "none"}));
    auto turnedOff = ReplyValues(HttpGet(off.BaseUrl() + "/api/?videoid=" + kId).body);
    EXPECT_EQ("fail", turnedOff["status"]);
    EXPECT_EQ("no-resolver", turnedOff["reason"]);
    EXPECT_EQ(std::string::npos, off.ErrorOutput().find("resolver")) << off.ErrorOutput();
}

TEST_F(ServiceResolverTest, ResolverPastTheTimeBoundIsKilledWithItsWholeGroup)
{
    // Three seconds: long enough for the fake to start and record itself on a loaded machine.
    ASSERT_TRUE(StartWith("hang", {"--resolve-timeout", "3"}));
    const auto start = Clock::now();
    auto values = Lookup(kId);
    EXPECT_EQ("fail", values["status"]);
    EXPECT_EQ("timeout", values["reason"]);
    EXPECT_EQ("the resolver took longer than 3 s and was ended", values["message"]);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(8));
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("took longer than 3 s"));
    const ResolverRun lookup = WaitForRun("lookup");
    const ResolverRun child = WaitForRun("child");
    ASSERT_GT(lookup.pid, 0);
    ASSERT_GT(child.pid, 0);
    EXPECT_TRUE(ProcessEndsWithin(lookup.pid, kGoneLimit));
    EXPECT_TRUE(ProcessEndsWithin(child.pid, kGoneLimit));
}

TEST_F(ServiceResolverTest, StreamIsRelayedChunkedByteForByte)
{
    ASSERT_TRUE(StartWith("ok"));
    const HttpReply reply = HttpGet(service.BaseUrl() + "/stream/" + kId + "/18");
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ("chunked", reply.Header("transfer-encoding"));
    EXPECT_EQ("video/mp4", reply.Header("content-type"));
    EXPECT_TRUE(reply.body == Pattern(kWholeStreamBytes));
    // A stream asked for without a lookup first looks the video up itself.
    const std::vector<ResolverRun> runs = Runs();
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ("lookup", runs.front().what);
}

TEST_F(ServiceResolverTest, LookupsAndStreamsCarryTheBrowserSignInAndSeeTheToolsFolderFirst)
{
    TempFolder tools;
    ASSERT_TRUE(StartWith(
        "ok", {"--cookies-from-browser", "firefox", "--tools-dir", tools.Path().string()}));
    const HttpReply reply = HttpGet(service.BaseUrl() + "/stream/" + kId + "/18");
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(200, reply.status);
    std::ifstream in(folder.Path() / "commands");
    std::set<std::string> seen;
    std::string line;
    while (std::getline(in, line))
    {
        const nlohmann::json command = nlohmann::json::parse(line);
        const auto args = command["args"].get<std::vector<std::string>>();
        const auto option = std::find(args.begin(), args.end(), "--cookies-from-browser");
        ASSERT_NE(args.end(), option) << line;
        ASSERT_NE(args.end(), option + 1) << line;
        EXPECT_EQ("firefox", *(option + 1));
        EXPECT_EQ(tools.Path().string(), command["path"]) << line;
        seen.insert(command["what"].get<std::string>());
    }
    EXPECT_EQ((std::set<std::string>{"lookup", "stream"}), seen);
}

TEST_F(ServiceResolverTest, ABrowserNameThatCouldBeAnOptionIsRefused)
{
    EXPECT_FALSE(StartWith("ok", {"--cookies-from-browser", "--exec=x"}));
    EXPECT_FALSE(StartWith("ok", {"--tools-dir", "relative/bin"}));
}

TEST_F(ServiceResolverTest, ResolverFailingMidwayCutsTheTransfer)
{
    ASSERT_TRUE(StartWith("ok"));
    const HttpReply reply = HttpGet(service.BaseUrl() + "/stream/" + kId + "/22");
    // curl reports the missing last chunk as an error: the client never takes the first
    // 100000 bytes for the whole file.
    EXPECT_FALSE(reply.received);
    EXPECT_EQ(kBytesBeforeFailure, reply.body.size());
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("connection reset"));
}

TEST_F(ServiceResolverTest, ResolverFailingBeforeAnyByteIsABadGateway)
{
    ASSERT_TRUE(StartWith("ok"));
    const HttpReply reply = HttpGet(service.BaseUrl() + "/stream/" + kId + "/17");
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(502, reply.status);
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("not available"));
    // A format the lookup did not offer is not asked for at all.
    EXPECT_EQ(404, HttpGet(service.BaseUrl() + "/stream/" + kId + "/137").status);
}

size_t StopAfterSomeBytes(char*, size_t size, size_t count, void* received)
{
    constexpr std::size_t kEnough = 64 * 1024;
    auto& total = *static_cast<std::size_t*>(received);
    total += size * count;
    return total >= kEnough ? 0 : size * count;
}

TEST_F(ServiceResolverTest, ClientGoingAwayEndsItsResolver)
{
    ASSERT_TRUE(StartWith("ok"));
    CURL* curl = curl_easy_init();
    ASSERT_NE(nullptr, curl);
    std::size_t received = 0;
    const std::string url = service.BaseUrl() + "/stream/" + kId + "/43";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, StopAfterSomeBytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    EXPECT_EQ(CURLE_WRITE_ERROR, curl_easy_perform(curl));
    curl_easy_cleanup(curl);
    const ResolverRun stream = WaitForRun("stream");
    ASSERT_GT(stream.pid, 0);
    EXPECT_TRUE(ProcessEndsWithin(stream.pid, kGoneLimit));
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("the client went away"));
}

size_t TakeUntilTold(char*, size_t size, size_t count, void* stop)
{
    return static_cast<std::atomic<bool>*>(stop)->load() ? 0 : size * count;
}

bool GoneWithin(const fs::path& path, std::chrono::steady_clock::duration limit)
{
    const auto deadline = Clock::now() + limit;
    while (fs::exists(path))
    {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

// yt-dlp writes the parts of a fragmented format beside its output, in its working folder
// when that output is "-": streams sharing a folder took each other's parts.
TEST_F(ServiceResolverTest, EachStreamRunsInAFolderOfItsOwnRemovedWithIt)
{
    ASSERT_TRUE(StartWith("ok"));
    std::atomic<bool> stop{false};
    std::thread endless(
        [&]
        {
            CURL* curl = curl_easy_init();
            const std::string url = service.BaseUrl() + "/stream/" + kId + "/43";
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeUntilTold);
            curl_easy_setopt(curl, CURLOPT_WRITEDATA, &stop);
            curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
            curl_easy_perform(curl);
            curl_easy_cleanup(curl);
        });
    const ResolverRun first = WaitForRun("stream", "43");
    const HttpReply whole = HttpGet(service.BaseUrl() + "/stream/" + kId + "/18");
    EXPECT_TRUE(whole.received && whole.body == Pattern(kWholeStreamBytes));
    const ResolverRun second = WaitForRun("stream", "18");
    stop = true;
    const bool firstStillHadItsPart = fs::exists(first.folder / "--Frag1.part");
    endless.join();

    ASSERT_FALSE(first.folder.empty());
    ASSERT_FALSE(second.folder.empty());
    EXPECT_NE(first.folder, second.folder);
    EXPECT_NE(fs::current_path(), first.folder);
    EXPECT_TRUE(firstStillHadItsPart);
    EXPECT_TRUE(GoneWithin(second.folder, kGoneLimit));
    EXPECT_TRUE(GoneWithin(first.folder, kGoneLimit));
}

// A service killed outright has no chance to end its resolver: the kernel must, and the
// client's connection, which the resolver no longer holds, ends with the service. The next
// service removes the folder the killed one left.
TEST_F(ServiceResolverTest, AKilledServiceLeavesNoResolverNorFolderBehind)
{
    // A temporary root of this test's own: a service that another test starts meanwhile
    // would otherwise be the one to remove the folder.
    const TempFolder root;
    service.SetEnvironment("TMPDIR", root.Path().string());
    ASSERT_TRUE(StartWith("hang"));
    auto client =
        std::async(std::launch::async,
                   [&]
                   {
                       HttpGet(service.BaseUrl() + "/api/?videoid=" + kId, {}, kLookupClientLimit);
                       return Clock::now();
                   });
    const ResolverRun lookup = WaitForRun("lookup");
    ASSERT_GT(lookup.pid, 0);
    std::error_code failed;
    const fs::path runFolder =
        fs::read_symlink("/proc/" + std::to_string(lookup.pid) + "/cwd", failed);
    ASSERT_FALSE(failed);
    const fs::path serviceFolder = runFolder.parent_path();
    ASSERT_TRUE(fs::exists(serviceFolder / ".lock"));
    const auto killed = Clock::now();
    kill(service.Pid(), SIGKILL);
    EXPECT_TRUE(ProcessEndsWithin(lookup.pid, kGoneLimit));
    ASSERT_EQ(std::future_status::ready, client.wait_for(kGoneLimit));
    EXPECT_LT(client.get() - killed, kGoneLimit);
    service.Stop();
    EXPECT_TRUE(fs::exists(serviceFolder));

    ServiceUnderTest next;
    next.SetEnvironment("TMPDIR", root.Path().string());
    ASSERT_TRUE(next.Start({"--resolver", kFake}));
    EXPECT_FALSE(fs::exists(serviceFolder));
    EXPECT_NE(std::string::npos, next.ErrorOutput().find("removed ")) << next.ErrorOutput();
}

TEST_F(ServiceResolverTest, StoppingTheServiceEndsEveryResolver)
{
    ASSERT_TRUE(StartWith("ok"));
    std::thread client([&] { HttpGet(service.BaseUrl() + "/stream/" + kId + "/43"); });
    const ResolverRun stream = WaitForRun("stream");
    EXPECT_EQ(0, service.Stop());
    client.join();
    ASSERT_GT(stream.pid, 0);
    EXPECT_TRUE(ProcessEndsWithin(stream.pid, kGoneLimit));
}
} // namespace
