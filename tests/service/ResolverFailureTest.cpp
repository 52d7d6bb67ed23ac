#include "ResolverFailure.h"

#include <gtest/gtest.h>

namespace
{
struct Case
{
    const char* said; // yt-dlp's standard error
    const char* reason;
};

// Lines as yt-dlp writes them (its own messages, with the ids of real runs).
const Case kCases[] = {
    {"ERROR: [youtube] dQw4w9WgXcQ: Video unavailable", "unavailable"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Private video. Sign in if you've been granted access to "
     "this video",
     "unavailable"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Sign in to confirm your age. This video may be "
     "inappropriate for some users.",
     "sign-in"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Sign in to confirm you\xE2\x80\x99re not a bot. Use "
     "--cookies-from-browser or --cookies for the authentication.",
     "sign-in"},
    {"ERROR: [youtube] dQw4w9WgXcQ: This video is available to this channel's members on level: "
     "Fan (members-only)",
     "sign-in"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Unable to download API page: HTTP Error 429: Too Many "
     "Requests",
     "rate-limited"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Unable to download webpage: <urlopen error [Errno -2] Name "
     "or service not known> (caused by URLError(gaierror(-2, 'Name or service not known')))",
     "network"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Unable to download webpage: <urlopen error [Errno -3] "
     "Temporary failure in name resolution>",
     "network"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Requested format is not available. Use --list-formats for "
     "a list of available formats",
     "outdated-resolver"},
    {"WARNING: [youtube] dQw4w9WgXcQ: nsig extraction failed: Some formats may be missing\n"
     "ERROR: [youtube] dQw4w9WgXcQ: Unable to extract uploader id; please report this issue",
     "outdated-resolver"},
    {"ERROR: [youtube] dQw4w9WgXcQ: Unable to extract yt initial data", "outdated-resolver"},
    {"WARNING: [youtube] No supported JavaScript runtime could be found. YouTube extraction "
     "without a JS runtime has been deprecated\n"
     "ERROR: [youtube] dQw4w9WgXcQ: Requested format is not available",
     "no-js-runtime"},
    {"ERROR: something nobody has seen before", "other"},
};
} // namespace

TEST(ResolverFailureTest, EachOfYtDlpsLinesGivesItsReason)
{
    for (const Case& c : kCases)
    {
        SCOPED_TRACE(c.said);
        const ResolverFailure failure = ClassifyResolverOutput(c.said);
        EXPECT_EQ(c.reason, failure.reason);
        EXPECT_FALSE(failure.message.empty());
    }
}

TEST(ResolverFailureTest, TheCauseWinsOverAWarningBeforeIt)
{
    const ResolverFailure failure =
        ClassifyResolverOutput("WARNING: [youtube] nsig extraction failed\n"
                               "ERROR: [youtube] abcdefghijk: Video unavailable\n");
    EXPECT_EQ("unavailable", failure.reason);
    EXPECT_EQ("ERROR: [youtube] abcdefghijk: Video unavailable", failure.message);
}

TEST(ResolverFailureTest, AnUnknownFailureSaysYtDlpsLastErrorLine)
{
    const ResolverFailure failure =
        ClassifyResolverOutput("ERROR: first\nERROR: the last one\n[debug] after it\n");
    EXPECT_EQ("other", failure.reason);
    EXPECT_EQ("ERROR: the last one", failure.message);
    EXPECT_EQ("", ClassifyResolverOutput("").message);
}

TEST(ResolverFailureTest, TheMessageIsOneShortLine)
{
    EXPECT_EQ("a  b c", ReplyMessageLine(" a\x1b\tb\rc\n"));
    // 299 letters and a two-byte character make 300 characters: kept whole, nothing after.
    const std::string long_text = std::string(299, 'x') + "\xC3\xA4" + "yyy";
    EXPECT_EQ(std::string(299, 'x') + "\xC3\xA4", ReplyMessageLine(long_text));
}
