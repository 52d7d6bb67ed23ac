#include <gtest/gtest.h>

#include "support/CaseName.h"

#include "lookup/VideoPageUrl.h"

#include <wx/log.h>

#include <chrono>

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

    class CountingLog : public wxLog
    {
    public:
        int count = 0;

    protected:
        void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++count; }
    };
    auto* log = new CountingLog;
    wxLog* previous = wxLog::SetActiveTarget(log);
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(IsVideoPageUrl(manyWords));
    EXPECT_TRUE(IsVideoPageUrl(longPage));
    EXPECT_EQ(wxString("AbCdEfGhIjK"), GetVideoId(longPage));
    EXPECT_FALSE(IsVideoPageUrl(longText));
    const auto took = std::chrono::steady_clock::now() - begun;
    wxLog::FlushActive();
    EXPECT_EQ(0, log->count);
    wxLog::SetActiveTarget(previous);
    delete log;
    EXPECT_LT(took, std::chrono::milliseconds(50));
}
