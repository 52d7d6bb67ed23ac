#include "download/Mp3Index.h"

#include <wx/file.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{
constexpr size_t kHeaderBytes = 4;
constexpr size_t kId3HeaderBytes = 10;
constexpr size_t kId3FooterBytes = 10;
constexpr std::uint8_t kId3HasFooter = 0x10;
constexpr int kSyncSafeBits = 7;
constexpr size_t kReadBlock = size_t{1} << 20;
constexpr size_t kPercents = 100;
constexpr int kTocScale = 256;
constexpr int kTocMost = 255;

// The frame header's fields; see ISO 11172-3 and 13818-3. Layer III only: what encoders of
// MP3 write.
enum Version
{
    kMpeg25 = 0,
    kReserved = 1,
    kMpeg2 = 2,
    kMpeg1 = 3
};
constexpr int kLayer3 = 1;
constexpr int kMono = 3;
constexpr int kFreeBitrate = 0;
constexpr int kBadBitrate = 15;
constexpr int kBadSampleRate = 3;
constexpr int kBitrates[2][15] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},     // MPEG 2 and 2.5
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}, // MPEG 1
};
constexpr int kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
// Bytes per kilobit-per-second of bit rate, per sample: 1152 samples / 8 bits, or half that.
constexpr int kMpeg1SlotFactor = 144000;
constexpr int kMpeg2SlotFactor = 72000;
constexpr size_t kCrcBytes = 2;
// The index's own fields after its tag: flags, frames, bytes, then the table.
constexpr size_t kIndexFieldBytes = 4 + 4 + 4 + 4 + kPercents;
constexpr std::uint32_t kHasFramesBytesAndToc = 0x7;
// Where another encoder's index (VBRI) sits: after the header and 32 bytes.
constexpr size_t kVbriOffset = 36;

struct FrameHeader
{
    int version = kReserved;
    int bitrateIndex = 0;
    int sampleRateIndex = 0;
    bool padding = false;
    bool crc = false;
    int channelMode = 0;

    bool Read(const std::uint8_t* b)
    {
        if (b[0] != 0xff || (b[1] & 0xe0) != 0xe0)
            return false;
        version = (b[1] >> 3) & 3;
        crc = (b[1] & 1) == 0;
        bitrateIndex = b[2] >> 4;
        sampleRateIndex = (b[2] >> 2) & 3;
        padding = ((b[2] >> 1) & 1) != 0;
        channelMode = b[3] >> 6;
        return version != kReserved && ((b[1] >> 1) & 3) == kLayer3 &&
               bitrateIndex != kFreeBitrate && bitrateIndex != kBadBitrate &&
               sampleRateIndex != kBadSampleRate;
    }

    int SampleRate() const { return kSampleRates[version][sampleRateIndex]; }

    size_t Length(int index) const
    {
        const int factor = version == kMpeg1 ? kMpeg1SlotFactor : kMpeg2SlotFactor;
        return size_t(factor * kBitrates[version == kMpeg1 ? 1 : 0][index] / SampleRate());
    }

    size_t Length() const { return Length(bitrateIndex) + (padding ? 1 : 0); }

    size_t SideInfo() const
    {
        if (version == kMpeg1)
            return channelMode == kMono ? 17 : 32;
        return channelMode == kMono ? 9 : 17;
    }
};

// Reads a file through a block of memory: the scan visits every frame header in order.
class BlockReader
{
public:
    explicit BlockReader(wxFile& file) : file(file), size(std::uint64_t(file.Length())) {}

    std::uint64_t Size() const { return size; }

    // The count bytes at offset, or null when the file ends before them.
    const std::uint8_t* At(std::uint64_t offset, size_t count)
    {
        if (offset + count > size)
            return nullptr;
        if (offset < start || offset + count > start + block.size())
        {
            block.resize(std::max(count, kReadBlock));
            if (file.Seek(wxFileOffset(offset)) == wxInvalidOffset)
                return nullptr;
            const ssize_t got = file.Read(block.data(), block.size());
            if (got < 0 || size_t(got) < count)
                return nullptr;
            block.resize(size_t(got));
            start = offset;
        }
        return block.data() + (offset - start);
    }

private:
    wxFile& file;
    const std::uint64_t size;
    std::vector<std::uint8_t> block;
    std::uint64_t start = 0;
};

void PutBigEndian(std::string& out, size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + size_t(i)] = char((value >> (8 * (3 - i))) & 0xff);
}
} // namespace

bool Mp3Index::Scan(wxFile& file)
{
    BlockReader reader(file);
    audioStart = 0;
    if (const std::uint8_t* tag = reader.At(0, kId3HeaderBytes);
        tag && std::memcmp(tag, "ID3", 3) == 0)
    {
        std::uint64_t size = 0;
        for (size_t i = 6; i < kId3HeaderBytes; ++i)
            size = (size << kSyncSafeBits) | (tag[i] & 0x7f);
        audioStart = kId3HeaderBytes + size + ((tag[5] & kId3HasFooter) ? kId3FooterBytes : 0);
    }

    FrameHeader first;
    const std::uint8_t* bytes = reader.At(audioStart, kHeaderBytes);
    if (!bytes || !first.Read(bytes))
        return false;
    std::copy(bytes, bytes + kHeaderBytes, firstHeader.begin());
    // A file that has an index keeps it.
    const size_t tagAt = kHeaderBytes + (first.crc ? kCrcBytes : 0) + first.SideInfo();
    if (const std::uint8_t* start = reader.At(audioStart, kVbriOffset + kHeaderBytes))
    {
        if (std::memcmp(start + kVbriOffset, "VBRI", kHeaderBytes) == 0)
            return false;
        const std::uint8_t* index = reader.At(audioStart + tagAt, kHeaderBytes);
        if (index && (std::memcmp(index, "Xing", kHeaderBytes) == 0 ||
                      std::memcmp(index, "Info", kHeaderBytes) == 0))
            return false;
    }

    std::vector<std::uint64_t> offsets;
    std::uint64_t at = audioStart;
    FrameHeader frame;
    while ((bytes = reader.At(at, kHeaderBytes)) && frame.Read(bytes) &&
           frame.version == first.version && frame.sampleRateIndex == first.sampleRateIndex &&
           at + frame.Length() <= reader.Size())
    {
        offsets.push_back(at - audioStart);
        at += frame.Length();
    }
    frames = std::uint32_t(offsets.size());
    audioBytes = at - audioStart;
    for (size_t i = 0; i < kPercents && frames > 0; ++i)
        percentOffsets[i] = offsets[i * frames / kPercents];
    return frames > 0;
}

std::string Mp3Index::Frame() const
{
    FrameHeader header;
    header.Read(firstHeader.data());
    // The smallest bit rate whose frame holds the index; no padding, no checksum.
    const size_t tagAt = kHeaderBytes + header.SideInfo();
    int index = 1;
    while (index < kBadBitrate - 1 && header.Length(index) < tagAt + kIndexFieldBytes)
        ++index;
    const size_t length = header.Length(index);
    std::string out(length, '\0');
    out[0] = char(firstHeader[0]);
    out[1] = char(firstHeader[1] | 1);
    out[2] = char((index << 4) | (header.sampleRateIndex << 2));
    out[3] = char(firstHeader[3]);
    std::memcpy(&out[tagAt], "Xing", kHeaderBytes);
    const std::uint64_t total = length + audioBytes;
    PutBigEndian(out, tagAt + 4, kHasFramesBytesAndToc);
    PutBigEndian(out, tagAt + 8, frames);
    PutBigEndian(out, tagAt + 12, std::uint32_t(std::min<std::uint64_t>(total, UINT32_MAX)));
    for (size_t i = 0; i < kPercents; ++i)
    {
        const std::uint64_t position = i == 0 ? 0 : length + percentOffsets[i];
        out[tagAt + 16 + i] = char(std::min<std::uint64_t>(kTocMost, position * kTocScale / total));
    }
    return out;
}
