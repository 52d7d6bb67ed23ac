#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class wxOutputStream;

// Copies the sound data of every audio tag of an FLV stream, in order, to an output stream.
// A stream whose sound is not MP3 is rejected at its first such tag. Fed incrementally: bytes that
// do not yet form a whole header or tag wait in a buffer.
class StreamAudioExctractor
{
public:
    StreamAudioExctractor();
    virtual ~StreamAudioExctractor();
    StreamAudioExctractor(const StreamAudioExctractor&) = delete;
    StreamAudioExctractor& operator=(const StreamAudioExctractor&) = delete;

    // Attaches the output (not owned) and forgets any earlier input. Always true.
    bool Open(wxOutputStream* output);
    // Appends and parses; false once the input has been rejected as not FLV with MP3 sound.
    bool Feed(const void* bytes, size_t count);
    // Parses what is complete, drops the rest and detaches the output.
    void Finish();

    // True once the input was rejected, by Feed or by what Finish parsed.
    bool Rejected() const { return rejected; }
    // True when a write to the output failed since Open.
    bool WriteFailed() const { return writeFailed; }
    // Bytes held in memory for parsing, including parsed ones not yet dropped.
    size_t BufferedBytes() const { return pending.size(); }
    // Memory the buffer holds, used or not.
    size_t ReservedBytes() const { return pending.capacity(); }

private:
    // 1: a header or tag was consumed, 0: more input is needed, -1: not FLV, or sound of
    // another codec.
    int Step();
    void Consume(size_t count);
    // Moves the unparsed bytes to the front of the buffer.
    void Compact();
    size_t PendingSize() const { return pending.size() - readPos; }
    const std::uint8_t* PendingData() const { return pending.data() + readPos; }
    void WriteSound(const std::uint8_t* data, size_t count);

    wxOutputStream* out = nullptr;
    // Bytes before readPos are parsed already; they are dropped at the next compaction.
    std::vector<std::uint8_t> pending;
    size_t readPos = 0;
    // Size of the chunk being fed, so a whole tag is reserved with room for the chunk that
    // completes it.
    size_t feedCount = 0;
    bool headerSeen = false;
    bool rejected = false;
    bool writeFailed = false;
};
