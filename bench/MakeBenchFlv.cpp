// Writes an FLV file of about the given size for the MP3 benchmark: large video tags
// interleaved by timestamp with audio tags that each hold one MPEG-1 Layer III frame with a
// valid header, so that ffmpeg accepts the audio as MP3 and copies it frame by frame.
//
// The frames decode as silence (all-zero side information, so no granule reads main data)
// followed by varied bytes the decoder treats as ancillary data: a decoder raises no errors,
// and a mix-up of audio with video bytes still shows in the output.
//
// bench_make_flv OUTPUT.flv MEGABYTES [SEED]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr std::uint64_t kBytesPerMegabyte = 1000 * 1000;
constexpr std::uint8_t kAudioTagType = 8;
constexpr std::uint8_t kVideoTagType = 9;
constexpr std::uint8_t kFlvVersion = 1;
constexpr std::uint8_t kAudioAndVideoFlags = 5;
constexpr std::uint32_t kFlvHeaderLength = 9;
constexpr size_t kTagHeaderSize = 11;
// MP3 (2) in the high nibble, then 44 kHz, 16 bit, stereo.
constexpr std::uint8_t kMp3SoundFlags = 0x2f;
// Keyframe (1) of On2 VP6 with alpha (5): a codec the flv demuxer knows and whose probe
// raises no errors on these bytes.
constexpr std::uint8_t kVideoFlags = 0x15;
// A video frame of 25 frames a second, and the length of an MP3 frame at 44.1 kHz.
constexpr double kVideoFrameMs = 40.0;
constexpr double kAudioFrameMs = 1152.0 * 1000.0 / 44100.0;
// Video tags of tens of kilobytes: a few megabits a second.
constexpr std::uint32_t kMinVideoBody = 20 * 1024;
constexpr std::uint32_t kVideoBodySpread = 40 * 1024;

// MPEG-1, Layer III, no CRC; then the bitrate index in the high nibble of the third byte,
// 44.1 kHz, no padding; the fourth byte says stereo, original.
constexpr std::uint8_t kMp3Sync = 0xff;
constexpr std::uint8_t kMp3VersionLayer = 0xfb;
constexpr std::uint8_t kMp3StereoOriginal = 0x04;
constexpr size_t kMp3HeaderSize = 4;
// Side information of an MPEG-1 stereo frame; the Xing, Info and VBRI tags would start
// right after it, so that byte is kept zero to never look like one.
constexpr size_t kMp3SideInfoSize = 32;
struct Mp3Rate
{
    int bitrateIndex;
    int kbps;
};
// Frames of 417 to 835 bytes, the range of common MP3 bitrates.
constexpr Mp3Rate kMp3Rates[] = {{9, 128}, {10, 160}, {11, 192}, {12, 224}, {13, 256}};
constexpr int kMp3RateCount = sizeof(kMp3Rates) / sizeof(kMp3Rates[0]);
constexpr int kMp3SamplesPerFrame = 1152;
constexpr int kMp3SampleRate = 44100;
constexpr int kBitsPerByte = 8;
// Written out in blocks of about this size.
constexpr size_t kFlushBytes = 8 << 20;

class Random
{
public:
    explicit Random(std::uint64_t seed) : state(seed ? seed : 1) {}
    std::uint64_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    void Fill(std::uint8_t* data, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
        {
            if (i % sizeof(std::uint64_t) == 0)
                word = Next();
            data[i] = std::uint8_t(word >> (kBitsPerByte * (i % sizeof(std::uint64_t))));
        }
    }

private:
    std::uint64_t state;
    std::uint64_t word = 0;
};

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int width)
{
    for (int shift = (width - 1) * kBitsPerByte; shift >= 0; shift -= kBitsPerByte)
        out.push_back(std::uint8_t(value >> shift));
}

// Appends a tag whose body is flags followed by count bytes the filler writes.
template <typename Filler>
void AppendTag(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint32_t timestampMs,
               std::uint8_t flags, size_t count, Filler fill)
{
    const std::uint32_t bodySize = std::uint32_t(count + 1);
    out.push_back(type);
    AppendBigEndian(out, bodySize, 3);
    AppendBigEndian(out, timestampMs & 0xffffff, 3);
    out.push_back(std::uint8_t(timestampMs >> 24));
    AppendBigEndian(out, 0, 3);
    out.push_back(flags);
    const size_t start = out.size();
    out.resize(start + count);
    fill(out.data() + start);
    AppendBigEndian(out, std::uint32_t(bodySize + kTagHeaderSize), 4);
}

size_t Mp3FrameSize(int kbps)
{
    return size_t(kMp3SamplesPerFrame / kBitsPerByte * kbps * 1000 / kMp3SampleRate);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4)
    {
        std::fprintf(stderr, "usage: %s OUTPUT.flv MEGABYTES [SEED]\n", argv[0]);
        return 2;
    }
    const std::uint64_t target = std::strtoull(argv[2], nullptr, 10) * kBytesPerMegabyte;
    Random random(argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 1);
    FILE* file = std::fopen(argv[1], "wb");
    if (!file)
    {
        std::perror(argv[1]);
        return 1;
    }

    std::vector<std::uint8_t> out = {'F', 'L', 'V', kFlvVersion, kAudioAndVideoFlags};
    AppendBigEndian(out, kFlvHeaderLength, 4);
    AppendBigEndian(out, 0, 4);
    std::uint64_t written = 0;
    std::uint64_t videoFrames = 0;
    std::uint64_t audioFrames = 0;
    bool ok = true;
    while (ok && written + out.size() < target)
    {
        const double videoMs = double(videoFrames) * kVideoFrameMs;
        const double audioMs = double(audioFrames) * kAudioFrameMs;
        if (audioMs <= videoMs)
        {
            const Mp3Rate rate = kMp3Rates[random.Next() % kMp3RateCount];
            const size_t frameSize = Mp3FrameSize(rate.kbps);
            AppendTag(out, kAudioTagType, std::uint32_t(audioMs), kMp3SoundFlags, frameSize,
                      [&](std::uint8_t* frame)
                      {
                          frame[0] = kMp3Sync;
                          frame[1] = kMp3VersionLayer;
                          frame[2] = std::uint8_t(rate.bitrateIndex << 4);
                          frame[3] = kMp3StereoOriginal;
                          const size_t dataStart = kMp3HeaderSize + kMp3SideInfoSize;
                          for (size_t i = kMp3HeaderSize; i <= dataStart; ++i)
                              frame[i] = 0;
                          random.Fill(frame + dataStart + 1, frameSize - dataStart - 1);
                      });
            ++audioFrames;
        }
        else
        {
            const size_t size = kMinVideoBody + random.Next() % kVideoBodySpread;
            AppendTag(out, kVideoTagType, std::uint32_t(videoMs), kVideoFlags, size,
                      [&](std::uint8_t* body) { random.Fill(body, size); });
            ++videoFrames;
        }
        if (out.size() >= kFlushBytes)
        {
            ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
            written += out.size();
            out.clear();
        }
    }
    if (ok && !out.empty())
    {
        ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
        written += out.size();
    }
    if (std::fclose(file) != 0 || !ok)
    {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("bytes=%llu audio_frames=%llu video_frames=%llu\n", (unsigned long long)written,
                (unsigned long long)audioFrames, (unsigned long long)videoFrames);
    return 0;
}
