#include "ProcessRunner.h"

#include "ErrorText.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

namespace
{
// Error output kept for the log and a failed lookup's reason: enough for yt-dlp's warnings
// before its last message, bounded however much a program writes.
constexpr std::size_t kErrorTailBytes = std::size_t{16} * 1024;
constexpr std::size_t kErrorBlockBytes = 4096;
constexpr auto kReapPoll = std::chrono::milliseconds(5);
constexpr std::size_t kOutputPipeBytes = std::size_t{1024} * 1024;
// After a kill the group is gone at once; this only bounds a wait that cannot end.
constexpr auto kReapAfterKillLimit = std::chrono::seconds(5);

// The groups of every run in progress, so that a stop of the service can end them all.
std::mutex registryLock;
std::set<pid_t> runningGroups;
bool closing = false;

int MillisecondsUntil(ProcessRunner::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - ProcessRunner::Clock::now());
    return int(std::clamp<long long>(left.count(), 0, 60LL * 60 * 1000));
}

std::string Describe(int status)
{
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("ended by signal ") + SignalText(WTERMSIG(status));
    return "ended abnormally";
}

// Where a child that could not become its program says why: the pipe's write end sits on this
// descriptor, the first one above the standard three, and closes with a successful exec.
constexpr int kReportFd = STDERR_FILENO + 1;
constexpr int kExitCannotRun = 127;

struct ChildSetup
{
    int input;
    int output;
    int errors;
    int report;
    pid_t group;
    pid_t parent;
    const char* folder;
    char* const* argv;
};

// Runs in the child between fork and exec, where only async-signal-safe calls are allowed.
[[noreturn]] void BecomeProgram(const ChildSetup& setup)
{
    setpgid(0, setup.group);
    // A killed service must not leave its programs running: they would hold its clients'
    // connections and go on writing into its folder. The signal follows the thread that
    // forked, which lives as long as the request the program serves. A parent that died
    // before this line is caught by the check after it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int error = 0;
    if (getppid() != setup.parent)
        _exit(kExitCannotRun);
    dup2(setup.input, STDIN_FILENO);
    dup2(setup.output, STDOUT_FILENO);
    dup2(setup.errors, STDERR_FILENO);
    if (setup.report != kReportFd)
        dup3(setup.report, kReportFd, O_CLOEXEC);
    // The HTTP library's sockets are not close-on-exec: a program holding a client's
    // connection keeps that client waiting after the service is gone.
    close_range(kReportFd + 1, ~0U, 0);
    // The service blocks its stop signals in every thread and ignores SIGPIPE; a program
    // must get both back, so that it ends when its reader goes away.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    for (const int sig : {SIGPIPE, SIGTERM, SIGINT})
        signal(sig, SIG_DFL);
    if (setup.folder && chdir(setup.folder) != 0)
        error = errno;
    else
    {
        execvp(setup.argv[0], setup.argv);
        error = errno;
    }
    while (write(kReportFd, &error, sizeof error) < 0 && errno == EINTR)
    {
    }
    _exit(kExitCannotRun);
}

// Starts one program of a pipeline; 0 or the reason it could not run, as an errno value.
int Launch(const ChildSetup& setup, pid_t& pid)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return errno;
    ChildSetup child = setup;
    child.report = report[1];
    pid = fork();
    if (pid == 0)
        BecomeProgram(child);
    close(report[1]);
    if (pid < 0)
    {
        close(report[0]);
        return errno;
    }
    // Also here, so the group exists before anyone signals it, whichever runs first.
    setpgid(pid, setup.group == 0 ? pid : setup.group);
    int error = 0;
    ssize_t got;
    do
        got = read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got != ssize_t(sizeof error))
        return 0;
    waitpid(pid, nullptr, 0);
    pid = -1;
    return error;
}
} // namespace

ProcessRunner::~ProcessRunner()
{
    if (!pids.empty())
        Kill();
    CloseFds();
}

bool ProcessRunner::Start(const Command& command, std::string& error)
{
    return StartPipeline({command}, error);
}

bool ProcessRunner::StartPipeline(const std::vector<Command>& commands, std::string& error,
                                  const std::string& workingFolder)
{
    if (commands.empty() || !pids.empty())
    {
        error = "nothing to run";
        return false;
    }
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0)
    {
        error = std::string("no pipe: ") + ErrorText(errno);
        return false;
    }
    errFd = errPipe[0];
    int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    bool started = true;
    {
        // Registered under the lock before the first start, so a stop that comes meanwhile
        // finds the group, or this finds the stop.
        std::unique_lock<std::mutex> hold(registryLock);
        if (closing)
        {
            error = "the service is stopping";
            started = false;
        }
        for (std::size_t i = 0; started && i < commands.size(); ++i)
        {
            int outPipe[2];
            if (input < 0 || pipe2(outPipe, O_CLOEXEC) != 0)
            {
                error = std::string("no pipe: ") + ErrorText(errno);
                started = false;
                break;
            }
            std::vector<char*> argv;
            for (const std::string& arg : commands[i])
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            const ChildSetup setup{input,
                                   outPipe[1],
                                   errPipe[1],
                                   -1,
                                   group > 0 ? group : 0,
                                   getpid(),
                                   workingFolder.empty() ? nullptr : workingFolder.c_str(),
                                   argv.data()};
            pid_t pid = -1;
            const int result = Launch(setup, pid);
            close(outPipe[1]);
            close(input);
            input = outPipe[0];
            if (result != 0)
            {
                error = "cannot run \"" + commands[i][0] + "\": " + ErrorText(result);
                started = false;
                break;
            }
            if (group < 0)
            {
                group = pid;
                runningGroups.insert(group);
            }
            pids.push_back(pid);
            statuses.push_back(-1);
        }
    }
    close(errPipe[1]);
    outFd = input;
    if (!started)
    {
        Kill();
        CloseFds();
        return false;
    }
    fcntl(outFd, F_SETFL, fcntl(outFd, F_GETFL) | O_NONBLOCK);
    // A larger pipe lets the last program write on while a block is on its way to the
    // client, and lets a read take more at once: fewer switches between the two.
    fcntl(outFd, F_SETPIPE_SZ, int(kOutputPipeBytes));
    fcntl(errFd, F_SETFL, fcntl(errFd, F_GETFL) | O_NONBLOCK);
    return true;
}

ProcessRunner::ReadResult ProcessRunner::Read(char* buffer, std::size_t size, std::size_t& got,
                                              Clock::time_point deadline)
{
    got = 0;
    if (outFd < 0)
        return ReadResult::End;
    for (;;)
    {
        const ssize_t n = read(outFd, buffer, size);
        if (n > 0)
        {
            got = std::size_t(n);
            return ReadResult::Data;
        }
        if (n == 0)
            return ReadResult::End;
        if (errno != EAGAIN && errno != EINTR)
            return ReadResult::Failed;
        pollfd watched[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        const nfds_t count = errFd >= 0 ? 2 : 1;
        const int ready = poll(watched, count, MillisecondsUntil(deadline));
        if (ready < 0 && errno != EINTR)
            return ReadResult::Failed;
        if (count == 2 && watched[1].revents != 0)
            DrainErrors(false, deadline);
        if (ready == 0 && Clock::now() >= deadline)
            return ReadResult::TimedOut;
    }
}

void ProcessRunner::DrainErrors(bool wait, Clock::time_point deadline)
{
    char block[kErrorBlockBytes];
    while (errFd >= 0)
    {
        const ssize_t n = read(errFd, block, sizeof block);
        if (n > 0)
        {
            errors.append(block, std::size_t(n));
            if (errors.size() > kErrorTailBytes)
                errors.erase(0, errors.size() - kErrorTailBytes);
            continue;
        }
        if (n == 0)
        {
            close(errFd);
            errFd = -1;
            return;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN || !wait)
            return;
        pollfd watched{errFd, POLLIN, 0};
        if (poll(&watched, 1, MillisecondsUntil(deadline)) <= 0)
            return;
    }
}

bool ProcessRunner::Finish(Clock::time_point deadline, std::string& error)
{
    // A program that closed its output may still write its last words.
    DrainErrors(true, deadline);
    while (!pids.empty() && Clock::now() < deadline)
    {
        Reap();
        if (std::find(statuses.begin(), statuses.end(), -1) == statuses.end())
            break;
        std::this_thread::sleep_for(kReapPoll);
    }
    const bool allEnded = std::find(statuses.begin(), statuses.end(), -1) == statuses.end();
    if (!allEnded)
    {
        Kill();
        error = "did not end in time";
        return false;
    }
    std::vector<int> ended = statuses;
    // The programs started here have ended, but one may have left a child of its own in the
    // group: the kill ends whatever is left, and the group is forgotten.
    Kill();
    for (int status : ended)
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        {
            error = Describe(status);
            return false;
        }
    return true;
}

void ProcessRunner::Reap()
{
    for (std::size_t i = 0; i < pids.size(); ++i)
    {
        if (statuses[i] != -1)
            continue;
        int status = 0;
        pid_t result;
        do
            result = waitpid(pids[i], &status, WNOHANG);
        while (result < 0 && errno == EINTR);
        if (result == pids[i] || (result < 0 && errno == ECHILD))
            statuses[i] = result == pids[i] ? status : 0;
    }
}

void ProcessRunner::Kill()
{
    if (group > 0)
    {
        kill(-group, SIGKILL);
        const auto limit = Clock::now() + kReapAfterKillLimit;
        Reap();
        while (std::find(statuses.begin(), statuses.end(), -1) != statuses.end() &&
               Clock::now() < limit)
        {
            std::this_thread::sleep_for(kReapPoll);
            Reap();
        }
        const std::lock_guard<std::mutex> hold(registryLock);
        runningGroups.erase(group);
    }
    pids.clear();
    statuses.clear();
    group = -1;
}

void ProcessRunner::CloseFds()
{
    if (outFd >= 0)
        close(outFd);
    if (errFd >= 0)
        close(errFd);
    outFd = errFd = -1;
}

std::string ProcessRunner::LastErrorLine() const
{
    std::size_t end = errors.find_last_not_of(" \t\r\n");
    if (end == std::string::npos)
        return "";
    const std::size_t start = errors.find_last_of("\r\n", end);
    return errors.substr(start == std::string::npos ? 0 : start + 1,
                         end + 1 - (start == std::string::npos ? 0 : start + 1));
}

void ProcessRunner::KillAll()
{
    const std::lock_guard<std::mutex> hold(registryLock);
    closing = true;
    for (pid_t g : runningGroups)
        kill(-g, SIGKILL);
}
