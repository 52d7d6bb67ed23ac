#include "download/TransferPace.h"

namespace
{
constexpr std::int64_t kMsPerSecond = 1000;
} // namespace

void TransferPace::Start(std::int64_t bytesPerSecond, std::int64_t nowMs)
{
    rate = bytesPerSecond > 0 ? bytesPerSecond : 0;
    startMs = nowMs;
    counted = 0;
}

std::int64_t TransferPace::WaitAfter(std::int64_t bytes, std::int64_t nowMs)
{
    if (rate <= 0)
        return 0;
    counted += bytes;
    // When the bytes so far are due at this rate; the product stays far inside 64 bits for
    // any file a disk can hold.
    const std::int64_t dueMs = startMs + counted * kMsPerSecond / rate;
    return dueMs > nowMs ? dueMs - nowMs : 0;
}
