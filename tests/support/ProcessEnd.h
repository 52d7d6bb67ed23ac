#pragma once

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

// Whether a process has stopped running: gone, or a zombie that nobody has reaped yet (a
// grandchild of a test is adopted by some ancestor that may reap it late, or never).
inline bool ProcessEnded(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat)
        return true;
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

inline bool ProcessEndsWithin(long pid, std::chrono::steady_clock::duration limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ProcessEnded(pid))
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
