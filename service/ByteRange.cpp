#include "ByteRange.h"

#include <algorithm>

ByteRange FitByteRange(const std::vector<RequestedRange>& ranges, std::uintmax_t size)
{
    constexpr long long kOpen = RequestedRange::kOpen;
    const ByteRange whole{ByteRange::Kind::Whole, 0, 0};
    const ByteRange unsatisfiable{ByteRange::Kind::Unsatisfiable, 0, 0};
    if (ranges.size() != 1)
        return whole;
    long long first = ranges.front().first;
    long long last = ranges.front().last;
    const auto fileSize = static_cast<long long>(size);
    if (first == kOpen && last == kOpen)
        return whole;
    if (first == kOpen)
    {
        // "bytes=-N": the last N bytes.
        if (last == 0 || fileSize == 0)
            return unsatisfiable;
        first = std::max<long long>(0, fileSize - last);
        last = fileSize - 1;
    }
    else
    {
        if (first >= fileSize)
            return unsatisfiable;
        if (last != kOpen && last < first)
            return whole;
        if (last == kOpen || last >= fileSize)
            last = fileSize - 1;
    }
    return {ByteRange::Kind::Part, std::uintmax_t(first), std::uintmax_t(last)};
}
