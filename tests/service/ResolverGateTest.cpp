// How many runs of the resolver the service lets go on at once: one per id however many ask,
// a few in all however many ids, piped streams counted with the lookups.
#include "ServiceHarness.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <future>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;
const std::string kFake = NORVIK_FAKE_RESOLVER;
// Far above what forty short lookups in fours take on a loaded machine.
constexpr auto kClientLimit = std::chrono::seconds(60);
const char* const kLongBound = "50";

class ResolverGateTest : public testing::Test
{
protected:
    bool StartWith(const std::string& mode, const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args{"--resolver", kFake, "--watch-url",
                                      "fake:" + mode + ":" + folder.Path().string() + ":%s"};
        args.insert(args.end(), more.begin(), more.end());
        return service.Start(args);
    }

    HttpReply Lookup(const std::string& id)
    {
        return HttpGet(service.BaseUrl() + "/api/?videoid=" + id, {}, kClientLimit);
    }

    // Every id looked up at once, each from a thread of its own; the replies in order.
    std::vector<HttpReply> LookUpTogether(const std::vector<std::string>& ids)
    {
        std::vector<std::future<HttpReply>> replies;
        for (const std::string& id : ids)
            replies.push_back(std::async(std::launch::async, [this, id] { return Lookup(id); }));
        std::vector<HttpReply> got;
        for (auto& reply : replies)
            got.push_back(reply.get());
        return got;
    }

    // The stand-in's record, a line per event: "lookup ID PID" as a run starts, "done ID
    // PID" as it ends, "stream ..." as a piped stream starts.
    std::vector<std::string> Events() const
    {
        std::ifstream in(folder.Path() / "runs");
        std::vector<std::string> events;
        for (std::string line; std::getline(in, line);)
            events.push_back(line.substr(0, line.find(' ')));
        return events;
    }

    TempFolder folder;
    ServiceUnderTest service;
};

TEST_F(ResolverGateTest, TenSimultaneousLookupsOfOneIdShareOneRun)
{
    ASSERT_TRUE(StartWith("slow"));
    const std::vector<HttpReply> replies =
        LookUpTogether(std::vector<std::string>(10, "OneVideo-01"));
    for (const HttpReply& reply : replies)
    {
        EXPECT_EQ("ok", ReplyValues(reply.body)["status"]) << reply.body;
        EXPECT_EQ(replies.front().body, reply.body);
    }
    const std::vector<std::string> events = Events();
    EXPECT_EQ(1, std::count(events.begin(), events.end(), "lookup"));
}

TEST_F(ResolverGateTest, FortyDistinctIdsNeverRunMoreThanFourAtOnce)
{
    ASSERT_TRUE(StartWith("slow", {"--resolve-timeout", kLongBound}));
    std::vector<std::string> ids;
    for (int i = 0; i < 40; ++i)
        ids.push_back("Distinct-" + std::string(i < 10 ? "0" : "") + std::to_string(i));
    for (const HttpReply& reply : LookUpTogether(ids))
        EXPECT_EQ("ok", ReplyValues(reply.body)["status"]) << reply.body;
    // A run records its start once it holds its turn and its end before it gives it back, so
    // the count between the two is never below the runs that held turns then.
    int running = 0;
    int most = 0;
    int started = 0;
    for (const std::string& event : Events())
    {
        running += event == "lookup" ? 1 : event == "done" ? -1 : 0;
        started += event == "lookup" ? 1 : 0;
        most = std::max(most, running);
    }
    EXPECT_EQ(40, started);
    EXPECT_LE(most, 4);
    EXPECT_GE(most, 2) << "the lookups ran one after another";
}

size_t TakeUntilTold(char*, size_t size, size_t count, void* stop)
{
    return static_cast<std::atomic<bool>*>(stop)->load() ? 0 : size * count;
}

TEST_F(ResolverGateTest, APipedStreamHoldsATurnAndALookupWaitsForOneWithinItsBound)
{
    ASSERT_TRUE(StartWith("ok", {"--max-resolvers", "1", "--resolve-timeout", "3"}));
    const std::string streamed = "AbCdEfGhI-_";
    ASSERT_EQ("ok", ReplyValues(Lookup(streamed).body)["status"]);
    std::atomic<bool> stop{false};
    auto stream = std::async(std::launch::async,
                             [&]
                             {
                                 CURL* curl = curl_easy_init();
                                 const std::string url =
                                     service.BaseUrl() + "/stream/" + streamed + "/43";
                                 curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
                                 curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeUntilTold);
                                 curl_easy_setopt(curl, CURLOPT_WRITEDATA, &stop);
                                 curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
                                 curl_easy_perform(curl);
                                 curl_easy_cleanup(curl);
                             });
    const auto streaming = [this]
    {
        const std::vector<std::string> events = Events();
        return std::count(events.begin(), events.end(), "stream") > 0;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!streaming() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(streaming());
    const auto waited = Lookup("WaitsItTurn");
    auto values = ReplyValues(waited.body);
    EXPECT_EQ("fail", values["status"]);
    EXPECT_EQ("timeout", values["reason"]);
    EXPECT_NE(std::string::npos, service.ErrorOutput().find("were busy for 3 s"))
        << service.ErrorOutput();
    stop = true;
    stream.wait();
    // The stream's end gave its turn back.
    EXPECT_EQ("ok", ReplyValues(Lookup("WaitsItTurn").body)["status"]) << service.ErrorOutput();
    const std::vector<std::string> events = Events();
    EXPECT_EQ(2, std::count(events.begin(), events.end(), "lookup"));
}
} // namespace
