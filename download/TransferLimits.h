#pragma once

#include <cstdint>
#include <vector>

// Limits that end a stalled transfer. Tests shorten them.
struct TransferLimits
{
    long connectTimeoutSeconds = 30;
    long lowSpeedBytesPerSecond = 1;
    long lowSpeedSeconds = 60;
    // Pauses before each of the resumes that follow a connection cut by the network; one
    // resume per entry.
    std::vector<long> resumePausesMs{1000, 2000, 4000};
    // The user's cap on the receiving speed, in bytes per second; 0 for none.
    std::int64_t maxReceiveBytesPerSecond = 0;
};
