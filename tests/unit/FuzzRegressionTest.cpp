#include "fuzz/FlvWholeFileReader.h"
#include "fuzz/ParserInvariants.h"
#include "support/FlvBuilder.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/dir.h>
#include <wx/ffile.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace
{
using InputCheck = std::function<std::string(const std::uint8_t*, size_t)>;

// Where the fuzz targets start from. An input a fuzz target breaks an invariant with belongs
// in a folder of its own next to this file, replayed the same way.
const wxString kSeedFolder = NORVIK_SOURCE_DIR "/fuzz/corpus/";

std::string InputBytes(const wxString& path)
{
    wxFFile file(path, "rb");
    std::string bytes;
    if (!file.IsOpened())
        return bytes;
    bytes.resize(size_t(file.Length()));
    if (!bytes.empty() && file.Read(&bytes[0], bytes.size()) != bytes.size())
        bytes.clear();
    return bytes;
}

wxArrayString FilesIn(const wxString& folder)
{
    wxArrayString files;
    if (wxDir::Exists(folder))
        wxDir::GetAllFiles(folder, &files, wxEmptyString, wxDIR_FILES);
    return files;
}

void ExpectInvariantsHold(const wxArrayString& files, const InputCheck& check)
{
    for (const wxString& path : files)
    {
        SCOPED_TRACE(path.utf8_string());
        const std::string bytes = InputBytes(path);
        EXPECT_EQ("", check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
}

class FuzzRegressionTest : public testing::Test
{
protected:
    // Named as the fuzz targets, whose seed folders carry the same names.
    struct Target
    {
        const char* name;
        InputCheck check;
    };

    std::vector<Target> Targets() const
    {
        const wxString folder = names.Path();
        return {
            {"fuzz_reply_format", ParserInvariants::CheckReplyInput},
            {"fuzz_video_page_url", ParserInvariants::CheckVideoPageInput},
            {"fuzz_output_path", [folder](const std::uint8_t* data, size_t size)
             { return ParserInvariants::CheckOutputPathInput(data, size, folder); }},
            {"fuzz_stream_audio_exctractor", ParserInvariants::CheckExtractorInput},
        };
    }

    TempDir names;
};
} // namespace

TEST_F(FuzzRegressionTest, SeedInputsKeepTheirInvariants)
{
    ASSERT_FALSE(names.Path().empty());
    for (const Target& target : Targets())
    {
        SCOPED_TRACE(target.name);
        const wxArrayString seeds = FilesIn(kSeedFolder + target.name);
        EXPECT_FALSE(seeds.empty()) << "no seeds for a fuzz target";
        ExpectInvariantsHold(seeds, target.check);
    }
}

// The whole-file reading is what the fuzz target holds the extractor to, so it must itself
// read streams of known content right.
TEST(FlvWholeFileReaderTest, ReadsSoundOfKnownStreams)
{
    FlvBuilder mixed;
    mixed.Video(30).Audio("one").Tag(FlvBuilder::kAudioType, "").Audio("").Audio("two");
    FlvBuilder oddHeaderLength(0xffffffffu);
    oddHeaderLength.Audio("kept");
    FlvBuilder filtered;
    filtered.Tag(0x28, std::string(1, char(FlvBuilder::kMp3SoundFlags)) + "secret").Audio("x");
    FlvBuilder cut;
    cut.Audio("whole").Audio("cut-in-size-field");
    FlvBuilder wrongSignature(FlvBuilder::kUsualHeaderLength, "FLX");
    wrongSignature.Audio("never");
    const std::string header = FlvBuilder().Bytes();

    const struct
    {
        const char* what;
        std::string file;
        bool isFlv;
        std::string sound;
    } cases[] = {
        {"audio between video and empty tags", mixed.Bytes(), true, "onetwo"},
        {"header length field not followed", oddHeaderLength.Bytes(), true, "kept"},
        {"filter bit set is not audio", filtered.Bytes(), true, "x"},
        {"last size field cut short", cut.Bytes().substr(0, cut.Bytes().size() - 1), true, "whole"},
        {"wrong signature", wrongSignature.Bytes(), false, ""},
        {"header alone", header, true, ""},
        {"header cut short", header.substr(0, header.size() - 1), false, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const FlvWholeFileReader::Result result = FlvWholeFileReader::Read(c.file);
        EXPECT_EQ(c.isFlv, result.isFlv);
        EXPECT_EQ(c.sound, result.sound);
    }
}

TEST(FlvWholeFileReaderTest, LargestUnitIsTheDeclaredSizeOfTheBiggestTag)
{
    constexpr size_t kBigBody = 5000;
    constexpr size_t kTagOverhead = 15;
    FlvBuilder flv;
    flv.Audio("small").Video(kBigBody).Audio("after");
    EXPECT_EQ(kBigBody + kTagOverhead, FlvWholeFileReader::Read(flv.Bytes()).largestUnit);
    // Cut inside the big tag: the declared size still counts, as the extractor may wait for
    // all of it.
    const std::string cut = flv.Bytes().substr(0, flv.Bytes().size() / 2);
    EXPECT_EQ(kBigBody + kTagOverhead, FlvWholeFileReader::Read(cut).largestUnit);
}
