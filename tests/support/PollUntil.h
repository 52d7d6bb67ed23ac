#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls a condition that another thread makes true, without an event loop; true when it held
// before the time was up. Only the standard library, so tests without the toolkit can use it.
inline bool PollUntil(const std::function<bool()>& condition, long limitMs)
{
    constexpr auto kPollStep = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}
