#pragma once

#include <chrono>
#include <string>
#include <vector>

// Runs another program (ffmpeg, ffprobe, yt-dlp) from a test, without a shell, its standard
// output into a file and its standard error kept, killed with its process group at the limit.
struct ProgramRun
{
    bool finished = false; // false: not found, or still running at the limit and killed
    int code = -1;
    std::string err;

    static ProgramRun Run(const std::vector<std::string>& argv, const std::string& outputFile,
                          std::chrono::milliseconds limit);
    // Its standard output as text, for short outputs.
    static ProgramRun Capture(const std::vector<std::string>& argv, std::string& output,
                              std::chrono::milliseconds limit);
};

// True when PROGRAM is found on PATH.
bool OnPath(const std::string& program);
