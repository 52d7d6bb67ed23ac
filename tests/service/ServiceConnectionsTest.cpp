// The service under clients that hold connections open, and what a request target can put
// into its log.
#include "ServiceHarness.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
const fs::path kDemo = NORVIK_DEMO_DIR;
constexpr int kIdleConnections = 32;
// A held-up lookup waited 8 s and more; an instrumented build under load answers within 1 s.
constexpr auto kLookupLimit = std::chrono::seconds(3);

class ServiceConnectionsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(service.Start({"--catalogue", (kDemo / "catalogue.json").string()}));
    }

    ServiceUnderTest service;
};

// Opens connections that each send this (nothing at all when empty) and hold on, then asks
// for a lookup while they stay open; it must be answered within the limit.
void ExpectLookupBesideHeldConnections(const ServiceUnderTest& service, int count,
                                       const std::string& request)
{
    std::vector<int> held;
    for (int i = 0; i < count; ++i)
    {
        const int sock = ConnectLoopback(service.Port());
        ASSERT_GE(sock, 0);
        held.push_back(sock);
        if (!request.empty())
        {
            ASSERT_EQ(ssize_t(request.size()), send(sock, request.data(), request.size(), 0));
        }
    }
    // Let the server take them all up before the lookup asks.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = Clock::now();
    const HttpReply reply = HttpGet(service.BaseUrl() + "/api/?videoid=NkDemoClip1");
    const auto took = Clock::now() - start;
    for (int sock : held)
        close(sock);
    ASSERT_TRUE(reply.received);
    EXPECT_EQ("ok", ReplyValues(reply.body)["status"]);
    EXPECT_LT(took, kLookupLimit);
}

TEST_F(ServiceConnectionsTest, IdleConnectionsDoNotHoldUpALookup)
{
    ExpectLookupBesideHeldConnections(service, kIdleConnections, "");
}

TEST(ServiceLongRequestsTest, StreamsInProgressDoNotHoldUpALookup)
{
    // Held to a few hundred bytes a second, each stream runs for far longer than the test.
    constexpr int kStreams = 12;
    ServiceUnderTest service;
    ASSERT_TRUE(
        service.Start({"--catalogue", (kDemo / "catalogue.json").string(), "--media-rate", "300"}));
    ExpectLookupBesideHeldConnections(service, kStreams,
                                      "GET " + service.Path() + "/media/clip1.mp4 HTTP/1.1\r\n" +
                                          service.HostHeader() + "\r\n\r\n");
}

// More clients than the service serves at once, each sending half a head and then nothing:
// the newest connections still get through, and a lookup is answered at once.
TEST_F(ServiceConnectionsTest, SlowClientsBeyondTheLimitDoNotHoldUpALookup)
{
    constexpr int kSlowClients = 600;
    ExpectLookupBesideHeldConnections(
        service, kSlowClients, "GET " + service.Path() + "/api/?videoid=NkDemoClip1 HTTP/1.1\r\n");
}

// Limits the HTTP library does not have: they answer at once, the service stays small and
// goes on answering.
TEST_F(ServiceConnectionsTest, LargeBodiesAndHeadsAreRefused)
{
    const std::string target = "POST " + service.Path() + "/api/?videoid=NkDemoClip1 HTTP/1.1\r\n" +
                               service.HostHeader() + "\r\n";
    constexpr std::size_t kMebibyte = 1024 * 1024;
    const HttpReply body =
        RawExchange(service.Port(), target + "Content-Length: " + std::to_string(kMebibyte) +
                                        "\r\n\r\n" + std::string(kMebibyte, 'x'));
    ASSERT_TRUE(body.received);
    EXPECT_EQ(413, body.status);

    std::string headers;
    for (int i = 0; i < 200; ++i)
        headers += "X-Header-" + std::to_string(i) + ": 1\r\n";
    const HttpReply many = RawExchange(service.Port(), target + headers + "\r\n");
    ASSERT_TRUE(many.received);
    EXPECT_EQ(431, many.status);

    const std::string line(8000, 'x');
    std::string large;
    for (int i = 0; i < 9; ++i)
        large += "X-Large-" + std::to_string(i) + ": " + line + "\r\n";
    const HttpReply big = RawExchange(service.Port(), target + large + "\r\n");
    ASSERT_TRUE(big.received);
    EXPECT_EQ(431, big.status);

    EXPECT_EQ("ok",
              ReplyValues(HttpGet(service.BaseUrl() + "/api/?videoid=NkDemoClip1").body)["status"]);
}

TEST_F(ServiceConnectionsTest, ControlCharactersOfATargetAreEscapedInTheLog)
{
    const HttpReply reply = RawExchange(
        service.Port(), "GET " + service.Path() + "/api/?videoid=\x1b[2J\x07\x7f HTTP/1.1\r\n" +
                            service.HostHeader() + "\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(reply.received);
    const std::string log = service.ErrorOutput();
    EXPECT_NE(std::string::npos, log.find("/api/?videoid=\\x1b[2J\\x07\\x7f")) << log;
    for (const char c : {'\x1b', '\x07', '\x7f', '\r'})
        EXPECT_EQ(std::string::npos, log.find(c)) << int(c);
}
} // namespace
