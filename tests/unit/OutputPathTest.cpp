#include <gtest/gtest.h>

#include "support/CaseName.h"

#include <cstdlib>
#include <vector>

#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/filename.h>

#include "download/OutputPath.h"

namespace
{
const wxString kVideoExtension = ".mp4";
const wxUniChar kCyrillicZhe = 0x0436;
const wxUniChar kCjkMiddle = 0x4E2D;
constexpr size_t kLongTitleChars = 200;
// Enough taken names to carry the suffix from one digit to two.
constexpr int kTakenNumbers = 11;

size_t Utf8Bytes(const wxString& text)
{
    return text.utf8_str().length();
}

class OutputPathTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const wxString pattern = wxFileName::GetTempDir() + "/norvik-output-XXXXXX";
        const wxScopedCharBuffer bytes = pattern.utf8_str();
        std::vector<char> path(bytes.data(), bytes.data() + bytes.length() + 1);
        ASSERT_NE(nullptr, mkdtemp(path.data()));
        m_folder = wxString::FromUTF8(path.data());
    }

    void TearDown() override
    {
        if (!m_folder.empty())
            wxFileName::Rmdir(m_folder, wxPATH_RMDIR_RECURSIVE);
    }

    wxString InFolder(const wxString& name) const { return m_folder + "/" + name; }

    void MakeFile(const wxString& name) const
    {
        wxFile file;
        ASSERT_TRUE(file.Create(InFolder(name))) << name;
    }

    // Makes the file the naming hands out, so the next call has to move on.
    wxString TakeNext(const wxString& title, const wxString& extension) const
    {
        const wxString path = MakeOutputPath(m_folder, title, extension);
        wxFile file;
        EXPECT_TRUE(file.Create(path)) << path;
        return path;
    }

    wxString m_folder;
};

struct NamingCase
{
    const char* title;
    const char* extension;
    const char* fileName;
};

void PrintTo(const NamingCase& c, std::ostream* os)
{
    *os << '"' << c.title << "\" + \"" << c.extension << '"';
}

const NamingCase kNamingCases[] = {
    {"My  clip: part 1", ".mp4", "My clip: part 1.mp4"},
    {"a        b", ".mp4", "a b.mp4"},
    {"a         b", ".mp4", "a  b.mp4"},
    {"a   b  c", ".mp4", "a b c.mp4"},
    // Controls and bidirectional overrides would make the name read otherwise than it is.
    {"a\t\tb", ".mp4", "ab.mp4"},
    {"tab\tCR\rESC\x1b[31mred\x7f", ".mp4", "tabCRESC[31mred.mp4"},
    {"clip\u202egpj.exe", ".mp4", "clipgpj.exe.mp4"},
    {"\u2066a\u2069\u200e\u200f\u061c\u202a\u202d\u202c b\xc2\x85\xc2\x9f", ".mp4", "a b.mp4"},
    {"  a  ", ".mp4", " a .mp4"},
    {"what? *now*", ".webm", "what_ _now_.webm"},
    {"*?*?", ".mp4", "____.mp4"},
    {"../../.bashrc", ".mp4", "___.._.bashrc.mp4"},
    {"../../.bashrc", "", "___.._.bashrc"},
    // Leading dots would hide the download from the user.
    {"../../evil/x", ".mp4", "___.._evil_x.mp4"},
    {".hidden clip", ".mp4", "_hidden clip.mp4"},
    {" .not hidden", ".mp4", " .not hidden.mp4"},
    {"a/b", ".mp4", "a_b.mp4"},
    {"/", "", "_"},
    {".", ".mp4", "_.mp4"},
    {"..", ".mp4", "__.mp4"},
    {"..", "", "__"},
    {".", "", "_"},
    {"...", "", "___"},
    {"", ".mp4", "_.mp4"},
    {"", "", "_"},
};

class OutputPathNamingTest : public OutputPathTest, public testing::WithParamInterface<NamingCase>
{
};
} // namespace

TEST_P(OutputPathNamingTest, CleansTitleIntoFolder)
{
    const NamingCase& c = GetParam();
    const wxString path = MakeOutputPath(m_folder, wxString::FromUTF8(c.title), c.extension);
    EXPECT_EQ(InFolder(wxString::FromUTF8(c.fileName)), path);
    EXPECT_EQ(m_folder, wxFileName(path).GetPath());
}

INSTANTIATE_TEST_SUITE_P(Titles, OutputPathNamingTest, testing::ValuesIn(kNamingCases),
                         CaseNameFromPrint());

TEST_F(OutputPathTest, NulInTitleIsReplaced)
{
    wxString title = "a";
    title += wxUniChar(0);
    title += "b";
    ASSERT_EQ(3u, title.length());
    EXPECT_EQ(InFolder("a_b.mp4"), MakeOutputPath(m_folder, title, kVideoExtension));
}

TEST_F(OutputPathTest, NumbersNamesAfterExistingFiles)
{
    EXPECT_EQ(InFolder("My clip: part 1.mp4"), TakeNext("My  clip: part 1", kVideoExtension));
    EXPECT_EQ(InFolder("My clip: part 1-1.mp4"), TakeNext("My  clip: part 1", kVideoExtension));
    EXPECT_EQ(InFolder("My clip: part 1-2.mp4"), TakeNext("My  clip: part 1", kVideoExtension));
    EXPECT_EQ(InFolder("My clip: part 1-3.mp4"),
              MakeOutputPath(m_folder, "My  clip: part 1", kVideoExtension));
}

TEST_F(OutputPathTest, EmptyTitleIsNumberedToo)
{
    EXPECT_EQ(InFolder("_.mp4"), TakeNext("", kVideoExtension));
    EXPECT_EQ(InFolder("_-1.mp4"), MakeOutputPath(m_folder, "", kVideoExtension));
}

TEST_F(OutputPathTest, FreeUnnumberedNameWinsOverLaterGap)
{
    MakeFile("clip-1.mp4");
    EXPECT_EQ(InFolder("clip.mp4"), MakeOutputPath(m_folder, "clip", kVideoExtension));
}

TEST_F(OutputPathTest, FirstGapInSeriesIsTaken)
{
    MakeFile("clip.mp4");
    MakeFile("clip-1.mp4");
    MakeFile("clip-3.mp4");
    EXPECT_EQ(InFolder("clip-2.mp4"), MakeOutputPath(m_folder, "clip", kVideoExtension));
}

TEST_F(OutputPathTest, OtherExtensionDoesNotCollide)
{
    MakeFile("clip.webm");
    EXPECT_EQ(InFolder("clip.mp4"), MakeOutputPath(m_folder, "clip", kVideoExtension));
}

TEST_F(OutputPathTest, DirectoryOfSameNameDoesNotCount)
{
    ASSERT_TRUE(wxMkdir(InFolder("clip.mp4")));
    EXPECT_EQ(InFolder("clip.mp4"), MakeOutputPath(m_folder, "clip", kVideoExtension));
}

TEST_F(OutputPathTest, LongAsciiTitleFillsNameExactly)
{
    const wxString title('a', kMaxFileNameBytes * 2);
    const size_t room = kMaxFileNameBytes - kVideoExtension.length();

    const wxString first = TakeNext(title, kVideoExtension);
    EXPECT_EQ(InFolder(title.Left(room) + kVideoExtension), first);

    const wxString suffix = "-1";
    EXPECT_EQ(InFolder(title.Left(room - suffix.length()) + suffix + kVideoExtension),
              MakeOutputPath(m_folder, title, kVideoExtension));
}

TEST_F(OutputPathTest, ExtensionLongerThanLimitIsUsedAlone)
{
    const wxString extension = "." + wxString('e', kMaxFileNameBytes + 1);
    EXPECT_EQ(InFolder(extension), MakeOutputPath(m_folder, "clip", extension));
}

namespace
{
struct WideTitleCase
{
    wxUniChar character;
    size_t bytesPerChar;
};

void PrintTo(const WideTitleCase& c, std::ostream* os)
{
    *os << "U+" << std::hex << static_cast<unsigned>(c.character.GetValue());
}

const WideTitleCase kWideTitleCases[] = {
    {kCyrillicZhe, 2},
    {kCjkMiddle, 3},
};

class OutputPathWideTitleTest : public OutputPathTest,
                                public testing::WithParamInterface<WideTitleCase>
{
};
} // namespace

TEST_P(OutputPathWideTitleTest, CutsWholeCharactersToFit)
{
    const WideTitleCase& c = GetParam();
    const wxString title(c.character, kLongTitleChars);
    ASSERT_EQ(kLongTitleChars * c.bytesPerChar, Utf8Bytes(title));

    for (int number = 0; number <= kTakenNumbers; ++number)
    {
        SCOPED_TRACE(number);
        const wxString suffix = number == 0 ? wxString() : wxString::Format("-%d", number);
        const wxString name = wxFileName(TakeNext(title, kVideoExtension)).GetFullName();
        const size_t bytes = Utf8Bytes(name);
        EXPECT_LE(bytes, kMaxFileNameBytes);
        // Longest whole-character cut: one more character would not have fitted.
        EXPECT_GT(bytes + c.bytesPerChar, kMaxFileNameBytes);
        EXPECT_EQ(name, wxString::FromUTF8(name.utf8_str()));

        ASSERT_TRUE(name.EndsWith(suffix + kVideoExtension)) << name;
        const wxString kept = name.Left(name.length() - suffix.length() - kVideoExtension.length());
        EXPECT_FALSE(kept.empty());
        EXPECT_TRUE(title.StartsWith(kept));
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, OutputPathWideTitleTest, testing::ValuesIn(kWideTitleCases),
                         CaseNameFromPrint());
