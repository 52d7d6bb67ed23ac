// The cookies a single-file format is fetched with: the file yt-dlp wrote for a browser's
// sign-in, the description's own Cookie header, and the cookies a newer yt-dlp names apart.
#include "DirectRelayFixture.h"

namespace
{
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
} // namespace
