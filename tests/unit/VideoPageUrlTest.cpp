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
    {"www.youtube.com/watch?v=AbCdEfGhIjK", false, ""},
    {" https://www.youtube.com/watch?v=AbCdEfGhIjK", false, ""},
    {"ftp://www.youtube.com/watch?v=AbCdEfGhIjK", false, ""},
    {"https://youtu.be/AbCdEfGhIjK", false, ""},
    {"https://youtu.be/watch?v=AbCdEfGhIjK", false, ""},
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
    wxString manyWords = "https://";
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

// The one-pass reader against the toolkit's regular expression of the same pattern (the fuzz
// targets' oracle), over random texts made of the pieces the pattern cares about.
TEST(VideoPageUrlPatternTest, AnswersAsTheRegularExpressionOnRandomTexts)
{
    // The pieces a page needs stand more than once, so that pages are not rare.
    const char* const pieces[] = {"http",    "https",  "://", ":",  "/",  "youtube", "youtube",
                                  "YOUTUBE", "youtub", "v=",  "v=", "v=", "V=",      "v",
                                  "=",       "e",      "&",   "?",  "#",  ".",       "AbCdEfGhIjK",
                                  "x",       " ",      "\n",  "%20"};
    constexpr int kTexts = 20000;
    constexpr int kMostPieces = 10;
    constexpr unsigned kSeed = 20261208;
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<size_t> pickPiece(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> pickCount(0, kMostPieces);
    int pages = 0;
    for (int i = 0; i < kTexts; ++i)
    {
        // Most texts start with a scheme, or too few would get past the first test.
        wxString text = (i % 4 != 0) ? "https://" : "";
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
