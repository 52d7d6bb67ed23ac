#include "download/StreamAudioExctractor.h"

#include <wx/stream.h>

#include <cstring>

namespace
{
const char kSignature[] = {'F', 'L', 'V'};
constexpr size_t kSignatureSize = sizeof(kSignature);
// The header length field of the file is not trusted: files in the wild carry odd values
// there, while the header itself always has this size (including the first tag size field).
constexpr size_t kFileHeaderSize = 13;
// Type byte, 24-bit body length, timestamp, extended timestamp, stream id.
constexpr size_t kTagHeaderSize = 11;
// The size field that follows each tag body.
constexpr size_t kTagTrailerSize = 4;
constexpr size_t kTagOverhead = kTagHeaderSize + kTagTrailerSize;
// Below this much input Feed does not parse, so a caller sees the verdict on the signature
// only once a header and a small tag could be there.
constexpr size_t kMinFeedToParse = 25;
constexpr std::uint8_t kAudioTagType = 8;
// The first body byte of an audio tag describes the codec; the sound data follows it.
constexpr size_t kAudioFlagsSize = 1;
// The codec is the high four bits of that byte. Only MP3 frames make an MP3 file when copied
// as they are; AAC, Speex and the others would give a file no player reads.
constexpr int kSoundFormatShift = 4;
constexpr std::uint8_t kSoundFormatMp3 = 2;
constexpr std::uint8_t kSoundFormatMp3At8kHz = 14;

bool IsMp3Sound(std::uint8_t flags)
{
    const int format = flags >> kSoundFormatShift;
    return format == kSoundFormatMp3 || format == kSoundFormatMp3At8kHz;
}
} // namespace

StreamAudioExctractor::StreamAudioExctractor() = default;

StreamAudioExctractor::~StreamAudioExctractor() = default;

bool StreamAudioExctractor::Open(wxOutputStream* output)
{
    out = output;
    pending.clear();
    readPos = 0;
    feedCount = 0;
    headerSeen = false;
    rejected = false;
    writeFailed = false;
    return true;
}

bool StreamAudioExctractor::Feed(const void* bytes, size_t count)
{
    if (rejected)
        return false;
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    // Grown to exactly what is needed: the vector's own growth would double the buffer, up
    // to twice the largest tag.
    if (pending.size() + count > pending.capacity())
    {
        Compact();
        pending.reserve(pending.size() + count);
    }
    feedCount = count;
    pending.insert(pending.end(), first, first + count);
    if (PendingSize() < kMinFeedToParse)
        return true;
    int result;
    do
        result = Step();
    while (result == 1);
    if (result == -1)
        rejected = true;
    // What is left is the start of one tag, at most kMinFeedToParse plus this chunk of
    // bytes after the last consumed tag, so moving it now keeps the whole run linear; a
    // tag that stays incomplete over many chunks is never moved again.
    Compact();
    return !rejected;
}

void StreamAudioExctractor::Finish()
{
    if (PendingSize() > 0 && !rejected)
    {
        int result;
        do
            result = Step();
        while (result == 1);
        if (result == -1)
            rejected = true;
    }
    std::vector<std::uint8_t>().swap(pending);
    readPos = 0;
    out = nullptr;
}

int StreamAudioExctractor::Step()
{
    const size_t available = PendingSize();
    if (available == 0)
        return 0;
    const std::uint8_t* data = PendingData();
    if (!headerSeen)
    {
        if (available < kFileHeaderSize)
            return 0;
        if (std::memcmp(data, kSignature, kSignatureSize) != 0)
            return -1;
        Consume(kFileHeaderSize);
        headerSeen = true;
        return 1;
    }
    if (available < kTagHeaderSize)
        return 0;
    const size_t bodySize = (size_t(data[1]) << 16) | (size_t(data[2]) << 8) | size_t(data[3]);
    if (available < bodySize + kTagOverhead)
    {
        // Growing the buffer once to the whole tag spares a series of reallocations, each
        // copying a large part of it, while a big tag arrives in small chunks. The chunk
        // that completes the tag brings the start of the next one along: room for it too.
        const size_t wholeTagNeeds = bodySize + kTagOverhead + feedCount;
        if (pending.capacity() < readPos + wholeTagNeeds)
        {
            Compact();
            pending.reserve(wholeTagNeeds);
        }
        return 0;
    }
    if (data[0] == kAudioTagType && bodySize >= kAudioFlagsSize)
    {
        if (!IsMp3Sound(data[kTagHeaderSize]))
            return -1;
        WriteSound(data + kTagHeaderSize + kAudioFlagsSize, bodySize - kAudioFlagsSize);
    }
    Consume(bodySize + kTagOverhead);
    return 1;
}

void StreamAudioExctractor::Consume(size_t count)
{
    readPos += count;
    if (readPos == pending.size())
    {
        pending.clear();
        readPos = 0;
    }
}

void StreamAudioExctractor::Compact()
{
    if (readPos == 0)
        return;
    pending.erase(pending.begin(), pending.begin() + readPos);
    readPos = 0;
}

void StreamAudioExctractor::WriteSound(const std::uint8_t* data, size_t count)
{
    // After one failure the output is useless, and writing on only repeats the error.
    if (count == 0 || !out || writeFailed)
        return;
    out->Write(data, count);
    if (out->LastWrite() != count || !out->IsOk())
        writeFailed = true;
}
