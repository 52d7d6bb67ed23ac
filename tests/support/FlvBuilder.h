#pragma once

#include <cstdint>
#include <string>

// Builds FLV bytes tag by tag, for feeding the audio extractor streams of known content.
class FlvBuilder
{
public:
    static constexpr std::uint8_t kAudioType = 8;
    static constexpr std::uint8_t kVideoType = 9;
    // What a well-formed file carries in its header length field.
    static constexpr std::uint32_t kUsualHeaderLength = 9;
    static constexpr std::uint8_t kVersion = 1;
    // Audio and video present.
    static constexpr std::uint8_t kAudioVideoFlags = 5;
    // MP3, 44 kHz, 16 bit, stereo: what an audio tag's first body byte says in such files.
    static constexpr std::uint8_t kMp3SoundFlags = 0x2f;

    explicit FlvBuilder(std::uint32_t headerLength = kUsualHeaderLength,
                        const std::string& signature = "FLV")
    {
        bytes = signature;
        bytes += char(kVersion);
        bytes += char(kAudioVideoFlags);
        AppendBigEndian(headerLength, 4);
        AppendBigEndian(0, 4);
    }

    // A tag whose body is exactly body; the trailing size field is filled in as writers do.
    FlvBuilder& Tag(std::uint8_t type, const std::string& body)
    {
        bytes += char(type);
        AppendBigEndian(std::uint32_t(body.size()), 3);
        timestamp += kTimestampStep;
        AppendBigEndian(timestamp & 0xffffff, 3);
        bytes += char(timestamp >> 24);
        AppendBigEndian(0, 3);
        bytes += body;
        AppendBigEndian(std::uint32_t(body.size() + kTagHeaderSize), 4);
        return *this;
    }

    FlvBuilder& Audio(const std::string& sound)
    {
        return Tag(kAudioType, std::string(1, char(kMp3SoundFlags)) + sound);
    }

    // A video tag of size body bytes whose content varies, so a mix-up with sound data shows.
    FlvBuilder& Video(size_t size)
    {
        std::string body(size, '\0');
        for (size_t i = 0; i < size; ++i)
            body[i] = char('V' + i % kVideoPatternLength);
        return Tag(kVideoType, body);
    }

    const std::string& Bytes() const { return bytes; }

private:
    static constexpr size_t kTagHeaderSize = 11;
    static constexpr std::uint32_t kTimestampStep = 40;
    static constexpr size_t kVideoPatternLength = 7;

    void AppendBigEndian(std::uint32_t value, int width)
    {
        for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
            bytes += char((value >> shift) & 0xff);
    }

    std::string bytes;
    std::uint32_t timestamp = 0;
};
