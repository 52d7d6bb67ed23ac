#include <gtest/gtest.h>

#include "support/CaseName.h"
#include "support/CountingLog.h"

#include "fuzz/ParserInvariants.h"
#include "lookup/VideoPageUrl.h"

#include <chrono>
#include <random>

namespace
{
struct AddressCase
{
    const char* address;
    bool isVideoPage;
    const char* videoId;
};

void PrintTo(const AddressCase& c, std::ostream* os)
{
    *os << '"' << c.address << '"';
}

const AddressCase kAddressCases[] = {
    {"https://www.youtube.com/watch?v=AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {"http://www.youtube.com/watch?v=AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {"https://www.youtube.com/watch?v=AbCdEfGhIjK&list=XYZ&t=42s", true, "AbCdEfGhIjK"},
    // Scheme and host may be typed in capitals; the id keeps its own case.
    {"HTTPS://WWW.YOUTUBE.COM/WATCH?v=AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    // Recognised as a page thanks to lower-casing, but the id is looked for as typed.
    {"https://www.youtube.com/watch?V=AbCdEfGhIjK", true, ""},
    {"https://www.youtube.com/watch?v=AbCdEf", true, ""},
    {"https://www.youtube.com/watch?v=AbCdEfGhIj", true, ""},
    // The first "v=" wins, even inside another parameter's name.
    {"https://www.youtube.com/watch?ev=1&v=AbCdEfGhIjK", true, "1&v=AbCdEfG"},
    // The eleven characters are taken as they are.
    {"https://www.youtube.com/watch?v=Ab#Cd=Ef&Gh", true, "Ab#Cd=Ef&Gh"},
    {"https://m.youtube.com/watch?v=AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    // Without a scheme, as typed or copied from a page's text.
    {"www.youtube.com/watch?v=AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {" https://www.youtube.com/watch?v=AbCdEfGhIjK", false, ""},
    {"ftp://www.youtube.com/watch?v=AbCdEfGhIjK", false, ""},
    {"https://youtu.be/watch?v=AbCdEfGhIjK", false, ""},
    // The site's other forms name the video by a whole path segment of 11 id characters.
    {"https://youtu.be/AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {"youtu.be/Ab-dEfGh_jK?si=xYz&t=42", true, "Ab-dEfGh_jK"},
    {"https://www.youtube.com/shorts/AbCdEfGhIjK?feature=share", true, "AbCdEfGhIjK"},
    {"youtube.com/live/AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {"https://www.youtube.com/embed/AbCdEfGhIjK?start=10", true, "AbCdEfGhIjK"},
    {"https://www.youtube-nocookie.com/embed/AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {"http://www.youtube.com/v/AbCdEfGhIjK&fs=1", true, "AbCdEfGhIjK"},
    {"https://m.youtube.com/shorts/AbCdEfGhIjK/", true, "AbCdEfGhIjK"},
    {"https://music.youtube.com/watch?v=AbCdEfGhIjK&list=RDAMVM", true, "AbCdEfGhIjK"},
    {"https://www.youtube.com/watch?si=xYz&t=42s&v=AbCdEfGhIjK&list=PL1", true, "AbCdEfGhIjK"},
    {"HTTPS://YOUTU.BE/AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    // Near misses: a short or long id, nothing after the short link, an id with a blank.
    {"https://youtu.be/", false, ""},
    {"https://youtu.be/AbCdEfGhIj", false, ""},
    {"https://youtu.be/AbCdEfGhIjKL", false, ""},
    {"https://www.youtube.com/shorts/AbCdEfGhIjKL", false, ""},
    {"https://www.youtube.com/embed/Ab dEfGhIjK", false, ""},
    // Another host is never the site's, whatever "v=" or "youtube" it holds.
    {"https://example.com/watch?v=AbCdEfGhIjK&from=youtube", false, ""},
    {"https://notyoutube.com/watch?v=AbCdEfGhIjK", false, ""},
    {"https://www.youtube.com.evil.example/watch?v=AbCdEfGhIjK", false, ""},
    {"https://www.youtube.com@evil.example/watch?v=AbCdEfGhIjK", false, ""},
    {"https://evil.example\\@youtube.com/watch?v=AbCdEfGhIjK", false, ""},
    {"https://evil.example/youtube.com/shorts/AbCdEfGhIjK", false, ""},
    {"https://vimeo.com/v/AbCdEfGhIjK", false, ""},
    {"https://youtu.be.evil.example/AbCdEfGhIjK", false, ""},
    {"ftp://youtu.be/AbCdEfGhIjK", false, ""},
    // A port or a user on the site's host changes nothing.
    {"https://user@www.youtube.com:443/watch?v=AbCdEfGhIjK", true, "AbCdEfGhIjK"},
    {"http://youtubev=AbCdEfGhIjK", false, ""},
    {"https://www.youtube.com/watch?v=", false, ""},
    // A later "v=" with nothing behind it does not undo an earlier one that has an id.
    {"https://www.youtube.com/watch?v=AbCdEfGhIjK&v=", true, "AbCdEfGhIjK"},
    {"https://www.youtube.com/watch?v=AbCdEfGhIjK&ev=", true, "AbCdEfGhIjK"},
    {"https://www.youtube.com/watch?v=AbCdEfGhIjKv=", true, "AbCdEfGhIjK"},
    {"", false, ""},
};

class VideoPageUrlTest : public testing::TestWithParam<AddressCase>
{
};
} // namespace

TEST_P(VideoPageUrlTest, RecognisesPageAndTakesId)
{
    const AddressCase& c = GetParam();
    const wxString address(c.address);
    EXPECT_EQ(c.isVideoPage, IsVideoPageUrl(address));
    EXPECT_EQ(wxString(c.videoId), GetVideoId(address));
}

INSTANTIATE_TEST_SUITE_P(Addresses, VideoPageUrlTest, testing::ValuesIn(kAddressCases),
                         CaseNameFromPrint());

TEST(VideoPageUrlIdTest, IdHasFixedLengthWhenPresent)
{
    const wxString id = GetVideoId("https://www.youtube.com/watch?v=AbCdEfGhIjKLmNoP");
    EXPECT_EQ(kVideoIdLength, id.length());
    EXPECT_EQ(wxString("AbCdEfGhIjK"), id);
}

// The clipboard watch tests any copied text on every tick, so a long one must neither stall
// the window nor end in an error message.
TEST(VideoPageUrlLongTextTest, LongTextsAreReadQuicklyAndWithoutErrors)
{
    constexpr int kRepeats = 4000;
    wxString manyWords = "https://www.youtube.com/";
    for (int i = 0; i < kRepeats; ++i)
        manyWords += "youtube";
    const wxString longPage = manyWords + "v=AbCdEfGhIjK";
    const wxString longText = wxString('x', 20000);

    CountingLog log;
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(IsVideoPageUrl(manyWords));
    EXPECT_TRUE(IsVideoPageUrl(longPage));
    EXPECT_EQ(wxString("AbCdEfGhIjK"), GetVideoId(longPage));
    EXPECT_FALSE(IsVideoPageUrl(longText));
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_EQ(0, log.Count());
    EXPECT_LT(took, std::chrono::milliseconds(50));
}

// The one-pass reader against the toolkit's regular expression of the same pattern on the
// site's hosts, and against other hosts (the fuzz targets' oracle), over random texts made of
// the pieces the forms care about.
TEST(VideoPageUrlPatternTest, AnswersAsTheRegularExpressionOnRandomTexts)
{
    // The pieces a page needs stand more than once, so that pages are not rare.
    const char* const pieces[] = {
        "http",   "https",     "://",     ":",  "/",           "youtube", "youtube", "YOUTUBE",
        "youtub", "v=",        "v=",      "v=", "V=",          "v",       "=",       "e",
        "&",      "?",         "#",       ".",  "AbCdEfGhIjK", "x",       " ",       "\n",
        "%20",    "youtu.be/", "shorts/", "@",  ".com"};
    const char* const kPrefixes[] = {"", "https://", "https://www.youtube.com/", "youtu.be/"};
    constexpr int kTexts = 20000;
    constexpr int kMostPieces = 10;
    constexpr unsigned kSeed = 20261208;
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<size_t> pickPiece(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> pickCount(0, kMostPieces);
    int pages = 0;
    for (int i = 0; i < kTexts; ++i)
    {
        // Most texts start with a scheme or the site's host, or too few would get past the
        // first tests.
        wxString text = kPrefixes[size_t(i) % std::size(kPrefixes)];
        for (int n = pickCount(random); n > 0; --n)
            text += pieces[pickPiece(random)];
        if (IsVideoPageUrl(text))
            ++pages;
        const std::string broken = ParserInvariants::CheckVideoPage(text);
        ASSERT_EQ("", broken);
    }
    // Both answers must be common, or the comparison says little.
    EXPECT_GT(pages, kTexts / 20);
    EXPECT_LT(pages, kTexts - kTexts / 20);
}

// Only "http" and "https" addresses of hosts that are not the site's go to the service whole.
TEST(VideoPageUrlOtherSiteTest, OnlyWebAddressesOfOtherHosts)
{
    EXPECT_TRUE(IsOtherSiteUrl("https://vimeo.com/76979871"));
    EXPECT_TRUE(IsOtherSiteUrl("HTTP://127.0.0.1:8080/page.html?v=AbCdEfGhIjK"));
    EXPECT_TRUE(IsOtherSiteUrl("https://www.youtube.com.evil.example/watch?v=AbCdEfGhIjK"));
    EXPECT_FALSE(IsOtherSiteUrl("https://m.youtube.com/feed/library"));
    EXPECT_FALSE(IsOtherSiteUrl("https://youtu.be/"));
    EXPECT_FALSE(IsOtherSiteUrl("file:///etc/passwd"));
    EXPECT_FALSE(IsOtherSiteUrl("vimeo.com/76979871"));
    EXPECT_FALSE(IsOtherSiteUrl("https://vimeo.com/76979871\n"));
}
