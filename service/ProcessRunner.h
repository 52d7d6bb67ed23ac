#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// Runs a program, or a pipeline of programs, without a shell: each one an argument vector,
// all in one process group of their own, the first reading nothing, each one's output the
// next one's input, the last one's output read here through a pipe, and everyone's error
// output collected (its last lines kept for the log). Every wait has a deadline; a run that
// outlives its use is killed with its whole group and reaped, so no process outlives the
// object that started it, and KillAll() ends every run at once when the service stops.
class ProcessRunner
{
public:
    using Clock = std::chrono::steady_clock;
    using Command = std::vector<std::string>;

    enum class ReadResult
    {
        Data,     // some bytes were read
        End,      // the output is closed: the last program is done writing
        TimedOut, // nothing came before the deadline
        Failed    // the pipe could not be read
    };

    ProcessRunner() = default;
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // False with a reason when a program cannot be started (not found, not executable, the
    // service stopping); anything already started is then ended again. The programs run in
    // workingFolder when one is given, else in the service's own.
    bool Start(const Command& command, std::string& error);
    bool StartPipeline(const std::vector<Command>& commands, std::string& error,
                       const std::string& workingFolder = {});

    // Reads up to size bytes of the output, waiting at most until the deadline.
    ReadResult Read(char* buffer, std::size_t size, std::size_t& got, Clock::time_point deadline);

    // Waits until every program has ended, at most until the deadline (then kills them all).
    // True when all of them exited with status 0; otherwise why not.
    bool Finish(Clock::time_point deadline, std::string& error);

    // Ends the whole group at once and reaps it.
    void Kill();

    // The last line the programs wrote to their error output (yt-dlp's reason for failing).
    std::string LastErrorLine() const;
    // The end of what they wrote there, at most the last 16 KiB: yt-dlp's warnings and errors.
    const std::string& ErrorOutput() const { return errors; }

    // Kills every running group and refuses new starts from then on: the service is ending.
    static void KillAll();

private:
    void DrainErrors(bool wait, Clock::time_point deadline);
    void CloseFds();
    // Records the status of each program that has ended, without waiting for the others.
    void Reap();

    std::vector<pid_t> pids;
    std::vector<int> statuses;
    pid_t group = -1;
    int outFd = -1;
    int errFd = -1;
    std::string errors;
};
