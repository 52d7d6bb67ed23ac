#pragma once

#include <chrono>
#include <string>
#include <vector>

// One run of another program with a time limit, its standard output read back (bounded);
// standard input is /dev/null and standard error is dropped. Safe on any thread.
class ChildRun
{
public:
    // True when the program ran to an exit status of 0 within limit; output holds what it
    // wrote (at most kMostOutputBytes). Otherwise false with the reason in error; a program
    // past its limit is killed.
    static bool Run(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                    std::string& output, std::string& error);

    static constexpr std::size_t kMostOutputBytes = std::size_t{64} * 1024;
};
