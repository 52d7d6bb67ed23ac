#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class wxFile;

// The frame index (a "Xing" header) of an MP3 file that has none. An encoder writing to a pipe
// cannot go back to fill one in, and without it players take a VBR file's length from its
// first frames' bit rate: ten minutes read as nine. Scanning the whole file gives what the
// index holds: the count of frames, their bytes and where each hundredth of the time starts.
class Mp3Index
{
public:
    // Reads the file's layout: an optional ID3v2 tag, then MPEG audio Layer III frames of one
    // version and sample rate, up to anything else (an ID3v1 tag, the end). False when there
    // is no such frame, or when the first frame already is an index.
    bool Scan(wxFile& file);

    // Where the first audio frame starts, after the tag; the index goes there.
    std::uint64_t AudioStart() const { return audioStart; }
    // The index as one silent frame of the file's own format.
    std::string Frame() const;

private:
    std::uint64_t audioStart = 0;
    std::uint32_t frames = 0;
    std::uint64_t audioBytes = 0;
    // The first frame's header, whose version, sample rate and channels the index takes.
    std::array<std::uint8_t, 4> firstHeader{};
    // Each hundredth of the frames' bytes offset from AudioStart, before the index is put in.
    std::array<std::uint64_t, 100> percentOffsets{};
};
