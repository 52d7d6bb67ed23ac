#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// Holds a body back to a steady number of bytes a second, measured from its first block.
class Throttle
{
public:
    // 0 bytes a second: no limit.
    explicit Throttle(std::uintmax_t bytesPerSecond) : rate(bytesPerSecond) {}

    // How much of a block may go at once; everything when there is no limit.
    std::size_t Slice(std::size_t wanted) const;
    // Waits until count more bytes are due.
    void Before(std::size_t count);

private:
    std::uintmax_t rate;
    std::uintmax_t sent = 0;
    std::chrono::steady_clock::time_point start;
};
