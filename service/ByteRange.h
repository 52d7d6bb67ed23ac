#pragma once

#include <cstdint>
#include <vector>

// One range of a Range header as the HTTP library reads "bytes=FIRST-LAST": kOpen stands for
// a side left out ("bytes=100-", "bytes=-100").
struct RequestedRange
{
    static constexpr long long kOpen = -1;
    long long first = kOpen;
    long long last = kOpen;
};

// What a file of a known length answers to the ranges asked for.
struct ByteRange
{
    enum class Kind
    {
        Whole,        // the whole file, as if no range had been asked for
        Part,         // the bytes from first to last, both included
        Unsatisfiable // nothing of the file: 416
    };
    Kind kind = Kind::Whole;
    std::uintmax_t first = 0;
    std::uintmax_t last = 0;
};

// Turns the ranges of one request into explicit offsets within a file of size bytes. Several
// ranges at once, and a range that cannot be read (last before first), are answered with the
// whole file, which HTTP allows and our client never asks for.
ByteRange FitByteRange(const std::vector<RequestedRange>& ranges, std::uintmax_t size);
