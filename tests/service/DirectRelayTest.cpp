// Single-file formats that the service fetches itself: the stand-in resolver describes formats
// on a media server of the test's own on loopback, with a header of their own, and the test
// reads what that server was asked and what the client got.
#include "ServiceHarness.h"
#include "StalledSource.h"
#include "TestHttpServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;
const std::string kFake = NORVIK_FAKE_RESOLVER;
const std::string kId = "DirectVid01";
// Three ranges' worth, the last one short.
constexpr std::size_t kMediaBytes = std::size_t{25} * 1024 * 1024 + 12345;
constexpr std::uint64_t kMostRangeBytes = std::uint64_t{10} * 1024 * 1024;
constexpr std::size_t kCutAfterBytes = 300000;
constexpr auto kClientLimit = std::chrono::seconds(30);
const std::string kHeaderValue = "from-the-description";

std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    // 251 does not divide a range's length: bytes in the wrong place show.
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

const std::string& Media()
{
    static const std::string media = Pattern(kMediaBytes);
    return media;
}

// "bytes=FIRST-LAST" or "bytes=FIRST-", as the service asks; {-1, -1} for anything else.
std::pair<long long, long long> RangeOf(const std::string& header)
{
    long long first = -1;
    long long last = -1;
    if (std::sscanf(header.c_str(), "bytes=%lld-%lld", &first, &last) < 1)
        return {-1, -1};
    return {first, last};
}

// What the media server was asked.
struct Asked
{
    std::string path;
    std::string host;
    std::string range;
    std::string header; // X-Norvik-Test
    std::string encoding;
    std::string cookie;
};

class DirectRelayTest : public testing::Test
{
protected:
    void SetUp() override
    {
        server.Routes().Get("/media/(.*)", [this](const httplib::Request& req,
                                                  httplib::Response& res) { Serve(req, res); });
        ASSERT_TRUE(server.Start());
    }

    // One format of the description, served from the media server's path.
    nlohmann::json Format(const std::string& id, const std::string& path, bool withSize = true)
    {
        nlohmann::json format = {{"format_id", id},
                                 {"ext", "mp4"},
                                 {"height", 360},
                                 {"protocol", "https"},
                                 {"url", server.Url("/media/" + path)},
                                 {"http_headers",
                                  {{"User-Agent", "Test agent"},
                                   {"X-Norvik-Test", kHeaderValue},
                                   {"Accept-Encoding", "gzip"}}}};
        if (withSize)
            format["filesize"] = kMediaBytes;
        return format;
    }

    bool StartWith(const std::vector<nlohmann::json>& formats,
                   const std::vector<std::string>& more = {})
    {
        folder.Write("formats.json", nlohmann::json(formats).dump());
        std::vector<std::string> args{"--resolver", kFake, "--watch-url",
                                      "fake:formats:" + folder.Path().string() + ":%s"};
        args.insert(args.end(), more.begin(), more.end());
        return service.Start(args);
    }

    std::string StreamUrl(const std::string& itag) const
    {
        return service.BaseUrl() + "/stream/" + kId + "/" + itag;
    }

    HttpReply Get(const std::string& itag, const std::vector<std::string>& headers = {})
    {
        return HttpGet(StreamUrl(itag), headers, kClientLimit);
    }

    std::vector<Asked> Requests()
    {
        const std::lock_guard<std::mutex> hold(lock);
        return requests;
    }

    void ForgetRequests()
    {
        const std::lock_guard<std::mutex> hold(lock);
        requests.clear();
    }

    // The resolver's runs of each kind, from the stand-in's record.
    int Runs(const std::string& what) const
    {
        std::ifstream in(folder.Path() / "runs");
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.rfind(what + " ", 0) == 0 ? 1 : 0;
        return count;
    }

    // plain: ranges honoured; whole: the whole file to every request; refused: 403;
    // refused-once: 403 to the first request, then plain; cut: the first answer stops after
    // kCutAfterBytes; moved: a redirect to plain on another host name of the same server.
    void Serve(const httplib::Request& req, httplib::Response& res)
    {
        // Answered here: the library would cut the range out of the answer again.
        const_cast<httplib::Request&>(req).ranges.clear();
        const std::string path = req.matches[1];
        int earlier = 0;
        {
            const std::lock_guard<std::mutex> hold(lock);
            for (const Asked& a : requests)
                earlier += a.path == path ? 1 : 0;
            requests.push_back({path, req.get_header_value("Host"), req.get_header_value("Range"),
                                req.get_header_value("X-Norvik-Test"),
                                req.get_header_value("Accept-Encoding"),
                                req.get_header_value("Cookie")});
        }
        if (path == "refused" || (path == "refused-once" && earlier == 0))
        {
            res.status = 403;
            return;
        }
        if (path == "moved")
            return res.set_redirect("http://localhost:" + std::to_string(server.Port()) +
                                    "/media/plain");
        const std::string& media = Media();
        auto [first, last] = RangeOf(req.get_header_value("Range"));
        if (path == "whole")
            first = -1;
        if (first >= 0)
        {
            if (std::size_t(first) >= media.size())
            {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(media.size()));
                return;
            }
            if (last < 0 || std::size_t(last) >= media.size())
                last = (long long)(media.size()) - 1;
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                std::to_string(last) + "/" +
                                                std::to_string(media.size()));
        }
        else
            first = 0, last = (long long)(media.size()) - 1;
        const std::size_t length = std::size_t(last - first + 1);
        const bool cut = path == "cut" && earlier == 0;
        res.set_content_provider(length, "video/mp4",
                                 [cut, start = std::size_t(first)](
                                     std::size_t offset, std::size_t count, httplib::DataSink& sink)
                                 {
                                     if (cut && offset >= kCutAfterBytes)
                                         return false;
                                     const std::size_t step = cut ? kCutAfterBytes : count;
                                     return sink.write(Media().data() + start + offset,
                                                       std::min(step, count));
                                 });
    }

    TestHttpServer server;
    TempFolder folder;
    ServiceUnderTest service;
    // Guards requests, written by the server's threads.
    std::mutex lock;
    std::vector<Asked> requests;
};

TEST_F(DirectRelayTest, AFileComesInRangesOfAtMostTenMebibytesWithItsHeadersAndNoResolverRun)
{
    ASSERT_TRUE(StartWith({Format("18", "plain")}));
    ASSERT_EQ("ok",
              ReplyValues(HttpGet(service.BaseUrl() + "/api/?videoid=" + kId).body)["status"]);
    const HttpReply reply = Get("18");
    ASSERT_TRUE(reply.received) << service.ErrorOutput();
    EXPECT_EQ(200, reply.status);
    EXPECT_EQ(std::to_string(kMediaBytes), reply.Header("content-length"));
    EXPECT_EQ("bytes", reply.Header("accept-ranges"));
    EXPECT_FALSE(reply.Header("etag").empty());
    EXPECT_TRUE(reply.body == Media()) << reply.body.size() << " bytes";
    const std::vector<Asked> seen = Requests();
    ASSERT_EQ(3u, seen.size());
    long long next = 0;
    for (const Asked& asked : seen)
    {
        SCOPED_TRACE(asked.range);
        EXPECT_EQ(kHeaderValue, asked.header);
        // A compressed body has no byte ranges of the file: the description's wish is dropped.
        EXPECT_EQ("", asked.encoding);
        const auto [first, last] = RangeOf(asked.range);
        EXPECT_EQ(next, first);
        EXPECT_LE(std::uint64_t(last - first + 1), kMostRangeBytes);
        next = last + 1;
    }
    EXPECT_EQ((long long)kMediaBytes, next);
    // The cached lookup's stream started no program.
    EXPECT_EQ(1, Runs("lookup"));
    EXPECT_EQ(0, Runs("stream"));
}

TEST_F(DirectRelayTest, ARangeIsAnsweredWith206WhileItsIfRangeNamesThisFile)
{
    ASSERT_TRUE(StartWith({Format("18", "plain")}));
    const HttpReply first = Get("18", {"Range: bytes=0-0"});
    ASSERT_EQ(206, first.status) << service.ErrorOutput();
    const std::string tag = first.Header("etag");
    ASSERT_FALSE(tag.empty());
    const std::string total = "/" + std::to_string(kMediaBytes);
    const std::size_t size = kMediaBytes;
    const struct
    {
        std::string range;
        std::string ifRange;
        long status;
        std::size_t from;
        std::size_t count;
    } cases[] = {
        {"bytes=100-199", "", 206, 100, 100},
        {"bytes=100-199", tag, 206, 100, 100},
        // Across a range of the source's: two requests there, one part here.
        {"bytes=5000000-20000000", "", 206, 5000000, 15000001},
        {"bytes=" + std::to_string(size - 1000) + "-", "", 206, size - 1000, 1000},
        {"bytes=-1000", "", 206, size - 1000, 1000},
        // Another file's validator: the whole of this one, never a part to splice on.
        {"bytes=100-199", "\"another file\"", 200, 0, size},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.range + " " + c.ifRange);
        std::vector<std::string> headers{"Range: " + c.range};
        if (!c.ifRange.empty())
            headers.push_back("If-Range: " + c.ifRange);
        const HttpReply reply = Get("18", headers);
        ASSERT_TRUE(reply.received);
        EXPECT_EQ(c.status, reply.status);
        EXPECT_EQ(tag, reply.Header("etag"));
        EXPECT_TRUE(reply.body == Media().substr(c.from, c.count)) << reply.body.size();
        if (c.status == 206)
        {
            EXPECT_EQ("bytes " + std::to_string(c.from) + "-" +
                          std::to_string(c.from + c.count - 1) + total,
                      reply.Header("content-range"));
        }
    }
    const HttpReply past = Get("18", {"Range: bytes=" + std::to_string(size) + "-"});
    EXPECT_EQ(416, past.status);
    EXPECT_EQ("bytes *" + total, past.Header("content-range"));
}

TEST_F(DirectRelayTest, ASourceThatTakesNoRangesIsRelayedWholeAndPromisesNone)
{
    ASSERT_TRUE(StartWith({Format("18", "whole")}));
    const HttpReply reply = Get("18", {"Range: bytes=100-199"});
    EXPECT_EQ(200, reply.status) << service.ErrorOutput();
    EXPECT_EQ("none", reply.Header("accept-ranges"));
    EXPECT_EQ(std::to_string(kMediaBytes), reply.Header("content-length"));
    EXPECT_TRUE(reply.body == Media());
    EXPECT_EQ(1u, Requests().size());
}

TEST_F(DirectRelayTest, AnAddressRefusedBeforeTheFirstByteIsLookedUpOnceMore)
{
    ASSERT_TRUE(StartWith({Format("18", "refused-once"), Format("22", "refused")}));
    const HttpReply mended = Get("18");
    EXPECT_EQ(200, mended.status) << service.ErrorOutput();
    EXPECT_TRUE(mended.body == Media());
    EXPECT_EQ(2, Runs("lookup"));
    // Refused again after the new lookup: the client is told, and nothing more is tried.
    const HttpReply refused = Get("22");
    EXPECT_EQ(502, refused.status);
    EXPECT_EQ(3, Runs("lookup"));
    int refusals = 0;
    for (const Asked& asked : Requests())
        refusals += asked.path == "refused" ? 1 : 0;
    EXPECT_EQ(2, refusals);
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("looking the video up again"));
}

TEST_F(DirectRelayTest, ASourceCutMidwayCutsTheTransferAndARangeContinuesIt)
{
    ASSERT_TRUE(StartWith({Format("18", "cut")}));
    const HttpReply cut = Get("18");
    // curl counts the missing bytes against the stated length: never a complete short file.
    EXPECT_FALSE(cut.received);
    EXPECT_EQ(kCutAfterBytes, cut.body.size());
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("stream " + kId + "/18 cut:"))
        << service.ErrorOutput();
    const HttpReply first = Get("18", {"Range: bytes=0-0"});
    const HttpReply rest = Get("18", {"Range: bytes=" + std::to_string(cut.body.size()) + "-",
                                      "If-Range: " + first.Header("etag")});
    EXPECT_EQ(206, rest.status);
    EXPECT_TRUE(cut.body + rest.body == Media());
}

TEST_F(DirectRelayTest, CookiesYtDlpUsedGoToTheMediaFromItsOwnersOnlyFile)
{
    ASSERT_TRUE(StartWith({Format("18", "plain")}, {"--cookies-from-browser", "firefox"}));
    EXPECT_EQ(206, Get("18", {"Range: bytes=0-99"}).status) << service.ErrorOutput();
    const std::vector<Asked> seen = Requests();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("SID=from-the-jar", seen[0].cookie);
    std::ifstream mode(folder.Path() / "cookie-mode");
    std::string permissions;
    mode >> permissions;
    EXPECT_EQ("600", permissions);
}

TEST_F(DirectRelayTest, AFormatThatNamesItsCookiesGoesThroughYtDlpWithoutTheSignInsFile)
{
    nlohmann::json format = Format("18", "plain");
    format["cookies"] = "SID=needed; Domain=127.0.0.1; Path=/";
    ASSERT_TRUE(StartWith({format}));
    const HttpReply piped = Get("18");
    EXPECT_EQ(200, piped.status) << service.ErrorOutput();
    EXPECT_EQ("chunked", piped.Header("transfer-encoding"));
    EXPECT_EQ(1, Runs("stream"));
    EXPECT_TRUE(Requests().empty());

    // With the sign-in's file the service fetches it itself, the cookies from that file.
    ServiceUnderTest signedIn;
    ASSERT_TRUE(signedIn.Start({"--resolver", kFake, "--watch-url",
                                "fake:formats:" + folder.Path().string() + ":%s",
                                "--cookies-from-browser", "firefox"}));
    const HttpReply direct =
        HttpGet(signedIn.BaseUrl() + "/stream/" + kId + "/18", {"Range: bytes=0-99"});
    EXPECT_EQ(206, direct.status) << signedIn.ErrorOutput();
    EXPECT_EQ(1, Runs("stream"));
    ASSERT_EQ(1u, Requests().size());
}

TEST_F(DirectRelayTest, TheDescriptionsCookieNeverFollowsARedirectToAnotherHost)
{
    nlohmann::json format = Format("18", "moved");
    format["http_headers"]["Cookie"] = "SID=from-the-header";
    ASSERT_TRUE(StartWith({format}));
    EXPECT_EQ(206, Get("18", {"Range: bytes=0-99"}).status) << service.ErrorOutput();
    const std::vector<Asked> seen = Requests();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("SID=from-the-header", seen[0].cookie);
    EXPECT_EQ("localhost:" + std::to_string(server.Port()), seen[1].host);
    EXPECT_EQ("", seen[1].cookie);
    EXPECT_EQ(kHeaderValue, seen[1].header);
}

size_t GoAwayAtOnce(char*, size_t, size_t, void* at)
{
    *static_cast<Clock::time_point*>(at) = Clock::now();
    return 0;
}

size_t TakeAll(char*, size_t size, size_t count, void*)
{
    return size * count;
}

// The goal is a second; the bound leaves room for a loaded machine and the sanitizers.
constexpr auto kLetGoLimit = std::chrono::seconds(3);

TEST_F(DirectRelayTest, AClientGoingAwayOrTheServiceEndingLetsGoOfASilentSource)
{
    StalledSource source;
    nlohmann::json format = Format("18", "plain");
    format["url"] = source.Url();
    ASSERT_TRUE(StartWith({format}));
    CURL* curl = curl_easy_init();
    ASSERT_NE(nullptr, curl);
    const std::string url = StreamUrl("18");
    Clock::time_point gone;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, GoAwayAtOnce);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &gone);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    EXPECT_EQ(CURLE_WRITE_ERROR, curl_easy_perform(curl));
    curl_easy_cleanup(curl);
    const auto deadline = gone + kLetGoLimit;
    while (!source.Closed() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(source.Closed()) << service.ErrorOutput();
    EXPECT_LT(*source.Closed() - gone, kLetGoLimit);

    // A client that waits on: the service's end ends the fetch, and the service ends cleanly.
    auto waiting = std::async(std::launch::async,
                              [&url]
                              {
                                  CURL* patient = curl_easy_init();
                                  curl_easy_setopt(patient, CURLOPT_URL, url.c_str());
                                  curl_easy_setopt(patient, CURLOPT_WRITEFUNCTION, TakeAll);
                                  curl_easy_setopt(patient, CURLOPT_TIMEOUT, 20L);
                                  curl_easy_perform(patient);
                                  curl_easy_cleanup(patient);
                              });
    const auto before = *source.Closed();
    const auto connected = Clock::now() + kLetGoLimit;
    while (source.Accepted() < 2 && Clock::now() < connected)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(2, source.Accepted());
    EXPECT_EQ(0, service.Stop());
    waiting.wait();
    EXPECT_GT(*source.Closed(), before);
}
} // namespace
