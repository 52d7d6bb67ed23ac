#include "Throttle.h"

#include <algorithm>
#include <thread>

namespace
{
// A throttled stream is sent in blocks of a tenth of a second's worth, so its rate is even
// and a stopped client is noticed quickly.
constexpr std::uintmax_t kThrottleSlicesPerSecond = 10;
} // namespace

std::size_t Throttle::Slice(std::size_t wanted) const
{
    if (rate == 0)
        return wanted;
    return std::size_t(std::clamp<std::uintmax_t>(rate / kThrottleSlicesPerSecond, 1, wanted));
}

void Throttle::Before(std::size_t count)
{
    if (rate == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (sent == 0)
        start = now;
    sent += count;
    const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(double(sent) / double(rate)));
    if (due > now)
        std::this_thread::sleep_for(due - now);
}
