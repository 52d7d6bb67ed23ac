#pragma once

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
};
