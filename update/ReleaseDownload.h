#pragma once

#include <atomic>
#include <chrono>
#include <string>

// One bounded libcurl transfer of a release file: http and https only (an https address is
// never redirected to plain http), certificates checked, a time limit for the whole transfer,
// a stall limit, a longest body, and a flag that cuts it short. Safe on any thread.
class ReleaseDownload
{
public:
    struct Limits
    {
        std::chrono::seconds whole{20 * 60};
        // A transfer slower than lowSpeedBytes a second for this long is given up.
        std::chrono::seconds stall{30};
        long lowSpeedBytes = 1024;
        long long mostBytes = 512LL * 1024 * 1024;
    };

    // Fetches address into the open file fd; false with the reason (a status, a cut
    // transfer, a refused address, or "cancelled") in error.
    static bool ToFile(const std::string& address, int fd, const Limits& limits,
                       const std::atomic<bool>& cancel, std::string& error);
    // Fetches a short text document, at most kMostTextBytes.
    static bool ToText(const std::string& address, std::string& text, const Limits& limits,
                       const std::atomic<bool>& cancel, std::string& error);

    static constexpr long long kMostTextBytes = 1024LL * 1024;
};
