#pragma once

#include <cstdint>

// Holds a transfer to a rate in bytes per second: told of every block as it is written, it
// says how long to wait before taking the next one. The count runs from the start of the
// response, so a late block makes up for an early one and the average holds, unlike a cap
// that forgets its count each time it is back under the limit.
class TransferPace
{
public:
    // A rate of 0 or less holds nothing back.
    void Start(std::int64_t bytesPerSecond, std::int64_t nowMs);
    // The wait, in milliseconds, after bytes more have arrived at nowMs; 0 when on time.
    std::int64_t WaitAfter(std::int64_t bytes, std::int64_t nowMs);
    bool IsLimited() const { return rate > 0; }

private:
    std::int64_t rate = 0;
    std::int64_t startMs = 0;
    std::int64_t counted = 0;
};
