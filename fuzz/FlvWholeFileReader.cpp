#include "fuzz/FlvWholeFileReader.h"

#include <algorithm>
#include <cstdint>

namespace
{
const std::string kSignature = "FLV";
// Signature, version, flags and the 4-byte header size, then the first PreviousTagSize.
// The header size field is not followed, as the extractor does not follow it: files in the
// wild carry odd values there.
constexpr size_t kHeaderBytes = 9;
constexpr size_t kPreviousTagSizeBytes = 4;
constexpr size_t kFirstTagOffset = kHeaderBytes + kPreviousTagSizeBytes;
// Type, 24-bit data size, timestamp (3 bytes and an extension byte), 24-bit stream id.
constexpr size_t kTagHeaderBytes = 11;
constexpr size_t kDataSizeOffset = 1;
constexpr size_t kDataSizeBytes = 3;
constexpr int kBitsPerByte = 8;
// The whole type byte, not only its low five type bits: with the filter bit set the data is
// encrypted and does not start with the sound flags.
constexpr std::uint8_t kAudioTag = 8;
constexpr size_t kSoundFlagsBytes = 1;
// The codec in the high bits of the sound flags: MP3, and MP3 at 8 kHz.
constexpr int kCodecShift = 4;
constexpr int kMp3Codec = 2;
constexpr int kMp3At8kHzCodec = 14;

size_t BigEndian(const std::string& bytes, size_t at, size_t count)
{
    size_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << kBitsPerByte) | std::uint8_t(bytes[at + i]);
    return value;
}
} // namespace

FlvWholeFileReader::Result FlvWholeFileReader::Read(const std::string& file)
{
    Result result;
    result.largestUnit = kFirstTagOffset;
    if (file.size() < kFirstTagOffset || file.compare(0, kSignature.size(), kSignature) != 0)
        return result;
    result.isFlv = true;

    // Each tag is followed by its PreviousTagSize; a tag whose size field is cut off is as
    // incomplete as one whose data is, since a writer puts the field down last.
    size_t tag = kFirstTagOffset;
    while (file.size() - tag >= kTagHeaderBytes)
    {
        const size_t dataSize = BigEndian(file, tag + kDataSizeOffset, kDataSizeBytes);
        const size_t tagEnd = tag + kTagHeaderBytes + dataSize + kPreviousTagSizeBytes;
        result.largestUnit = std::max(result.largestUnit, tagEnd - tag);
        if (tagEnd > file.size())
            break;
        if (std::uint8_t(file[tag]) == kAudioTag && dataSize >= kSoundFlagsBytes)
        {
            const int codec = std::uint8_t(file[tag + kTagHeaderBytes]) >> kCodecShift;
            if (codec != kMp3Codec && codec != kMp3At8kHzCodec)
            {
                result.foreignSound = true;
                break;
            }
            result.sound.append(file, tag + kTagHeaderBytes + kSoundFlagsBytes,
                                dataSize - kSoundFlagsBytes);
        }
        tag = tagEnd;
    }
    return result;
}
