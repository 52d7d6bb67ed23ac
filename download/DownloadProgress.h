#pragma once

#include <cstdint>

// How far a transfer has come, for the downloads list.
struct DownloadProgress
{
    bool transferring = false;
    std::int64_t received = 0;
    std::int64_t total = -1; // -1 while the size is unknown
    double bytesPerSecond = 0;
};
