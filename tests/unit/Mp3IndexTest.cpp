#include "download/Mp3Index.h"
#include "download/FinishDownload.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <wx/file.h>
#include <wx/utils.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
// MPEG 1 Layer III, 44.1 kHz, joint stereo, no checksum; bit rate index in the high nibble.
std::string Frame(int bitrateIndex, size_t length, char fill)
{
    std::string frame(length, fill);
    frame[0] = char(0xff);
    frame[1] = char(0xfb);
    frame[2] = char(bitrateIndex << 4);
    frame[3] = char(0x44);
    return frame;
}

// A file of ID3v2 tag, frames of 128 and 320 kb/s (417 and 1044 bytes) and an ID3v1 tag.
struct Sample
{
    std::string bytes;
    size_t tagBytes = 0;
    size_t frames = 0;
    size_t audioBytes = 0;
};

Sample MakeSample()
{
    Sample s;
    const std::string body(100, 'T');
    s.bytes = std::string("ID3\x03\x00\x00\x00\x00\x00", 9) + char(body.size()) + body;
    s.tagBytes = s.bytes.size();
    // The first half of the time takes a fifth of the bytes: the table must show it.
    for (int i = 0; i < 100; ++i)
    {
        const std::string frame = i < 50 ? Frame(9, 417, 'a') : Frame(14, 1044, 'b');
        s.bytes += frame;
        s.audioBytes += frame.size();
        ++s.frames;
    }
    s.bytes += "TAG" + std::string(125, ' ');
    return s;
}

std::uint32_t BigEndian(const std::string& bytes, size_t at)
{
    std::uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | std::uint8_t(bytes[at + i]);
    return value;
}

bool Scan(const wxString& path, Mp3Index& index)
{
    wxFile file(path);
    return file.IsOpened() && index.Scan(file);
}
} // namespace

TEST(Mp3IndexTest, TheIndexCountsTheFramesAndMapsTimeToBytes)
{
    TempDir temp;
    const Sample sample = MakeSample();
    ASSERT_TRUE(WriteBytes(temp.File("a.mp3"), sample.bytes));
    Mp3Index index;
    ASSERT_TRUE(Scan(temp.File("a.mp3"), index));
    EXPECT_EQ(sample.tagBytes, index.AudioStart());

    const std::string frame = index.Frame();
    // Stereo MPEG 1: the tag follows the header and 32 bytes of side information.
    ASSERT_GE(frame.size(), 36u + 120u);
    EXPECT_EQ("Xing", frame.substr(36, 4));
    EXPECT_EQ(sample.frames, BigEndian(frame, 44));
    EXPECT_EQ(frame.size() + sample.audioBytes, BigEndian(frame, 48));
    // Half the time in: past the index and the 50 small frames, of all the bytes.
    const double half = double(frame.size() + 50 * 417) / double(frame.size() + sample.audioBytes);
    EXPECT_NEAR(half * 256, std::uint8_t(frame[52 + 50]), 1.0);
    EXPECT_EQ(0, frame[52]);

    // A file with an index keeps it; what is not MP3 has none to get.
    ASSERT_TRUE(WriteBytes(temp.File("b.mp3"), frame + sample.bytes.substr(sample.tagBytes)));
    EXPECT_FALSE(Scan(temp.File("b.mp3"), index));
    ASSERT_TRUE(WriteBytes(temp.File("c.mp3"), std::string(2000, 'x')));
    EXPECT_FALSE(Scan(temp.File("c.mp3"), index));
}

// The service's MP3 comes from an encoder writing to a pipe, without an index: a player reads
// its length from its first frames' bit rate. The file put in place tells its true length.
TEST(Mp3IndexTest, AStreamedVbrMp3IsSavedWithItsTrueLength)
{
    constexpr int kSeconds = 20;
    TempDir temp;
    const wxString streamed = temp.File("streamed.mp3");
    // A tone that grows louder and richer keeps the VBR rate changing.
    const std::string make =
        "ffmpeg -nostdin -loglevel error -f lavfi -i 'aevalsrc=sin(440*2*PI*t)*t/" +
        std::to_string(kSeconds) + "+0.3*random(0)*gt(t\\," + std::to_string(kSeconds / 2) +
        "):s=44100' -t " + std::to_string(kSeconds) +
        " -c:a libmp3lame -q:a 2 -f mp3 pipe:1 2>/dev/null | cat > '" + streamed.ToStdString() +
        "'";
    if (std::system("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0)
        GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_EQ(0, std::system(make.c_str()));

    StreamRecord rec;
    rec.title = "Tone";
    rec.type = "audio/mp3";
    rec.extension = ".mp3";
    rec.outputPath = temp.File("Tone.mp3");
    const std::atomic<bool> stop{false};
    const FinishResult result = FinishDownload(rec, streamed, stop, [](const wxString&) {});
    ASSERT_EQ(FinishOutcome::Placed, result.outcome) << result.error;

    const std::string probe = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                              result.placed.ToStdString() + "'";
    FILE* pipe = popen(probe.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    double duration = 0;
    EXPECT_EQ(1, std::fscanf(pipe, "%lf", &duration));
    pclose(pipe);
    EXPECT_NEAR(kSeconds, duration, 0.1);
    EXPECT_FALSE(wxFileExists(streamed));
}
