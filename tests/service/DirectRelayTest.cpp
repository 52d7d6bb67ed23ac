// Single-file formats fetched by the service itself: ranges, lengths, refusals, cuts and the
// end of a fetch (the media server and the fixture: DirectRelayFixture.h).
#include "DirectRelayFixture.h"
#include "StalledSource.h"

#include <curl/curl.h>

#include <future>
#include <optional>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

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
