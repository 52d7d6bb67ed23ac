#include "lookup/LocalService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace
{
const char* const kLoopback = "127.0.0.1";
const char* const kAnyFreePort = "0";
const std::string kListeningPrefix = "listening on ";
const std::string kUrlScheme = "http://";
// What the child ends with when it cannot become the service (as a shell would).
constexpr int kExitCannotRun = 127;
// A listening line is one short line; anything longer is not the service talking.
constexpr std::size_t kLongestLine = 4096;
constexpr int kPollMs = 50;
constexpr auto kReapInterval = std::chrono::milliseconds(10);
// Longer than any message of the C library's.
constexpr std::size_t kMostErrorChars = 256;

std::string LastError(const char* what)
{
    char buffer[kMostErrorChars];
    // strerror keeps an unknown value's text in one buffer shared by all threads; the GNU
    // strerror_r returns its text, in the buffer or a static one of its own.
    std::string text = what;
    text += ": ";
    text += strerror_r(errno, buffer, sizeof buffer);
    return text;
}
} // namespace

LocalService::LocalService(std::string program, std::vector<std::string> extraArguments)
    : program(std::move(program)), extraArguments(std::move(extraArguments))
{
}

LocalService::~LocalService()
{
    Stop();
}

bool LocalService::Start(std::string& error, std::chrono::milliseconds limit)
{
    if (IsRunning())
        return true;
    url.clear();
    if (access(program.c_str(), X_OK) != 0)
    {
        error = LastError(program.c_str());
        return false;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
    {
        error = LastError("pipe");
        return false;
    }
    pid = Launch(fds[1], error);
    close(fds[1]);
    const bool listening = pid > 0 && ReadListeningLine(fds[0], limit, error);
    // The service prints nothing more to its standard output; a later write there fails
    // quietly, as it ignores SIGPIPE.
    close(fds[0]);
    if (!listening)
    {
        Stop();
        if (!lastEnd.empty())
            error += " (" + lastEnd + ")";
        return false;
    }
    return true;
}

pid_t LocalService::Launch(int outputFd, std::string& error)
{
    // Everything the child needs is made before the fork: after it, in a process that has
    // other threads, only async-signal-safe calls are allowed.
    std::vector<std::string> arguments = {program, "--port", kAnyFreePort, "--bind", kLoopback};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t child = fork();
    if (child < 0)
    {
        error = LastError("fork");
        return -1;
    }
    if (child == 0)
    {
        // The death signal follows the thread that forked, so this must run on the thread
        // that lives as long as the program: the GUI thread. A parent that died before this
        // line is caught by the check after it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(kExitCannotRun);
        // Blocked or ignored signals would be inherited through exec.
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
            signal(sig, SIG_DFL);
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0)
            dup2(nothing, STDIN_FILENO);
        // Standard error stays the program's: the service's own complaints and its request
        // log go where the program's go.
        dup2(outputFd, STDOUT_FILENO);
        // The display connection and every other descriptor of the program stay behind.
        close_range(STDERR_FILENO + 1, ~0U, 0);
        execv(program.c_str(), argv.data());
        _exit(kExitCannotRun);
    }
    return child;
}

bool LocalService::ReadListeningLine(int outputFd, std::chrono::milliseconds limit,
                                     std::string& error)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string seen;
    while (seen.find('\n') == std::string::npos)
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            error = program + " did not say where it listens within " +
                    std::to_string(limit.count()) + " ms";
            return false;
        }
        pollfd ready{outputFd, POLLIN, 0};
        const int polled = poll(&ready, 1, kPollMs);
        if (polled < 0 && errno != EINTR)
        {
            error = LastError("poll");
            return false;
        }
        if (polled <= 0)
            continue;
        char block[256];
        const ssize_t got = read(outputFd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            error = program + " ended before it listened";
            return false;
        }
        seen.append(block, std::size_t(got));
        if (seen.size() > kLongestLine)
            break;
    }
    const std::string line = seen.substr(0, seen.find('\n'));
    if (line.rfind(kListeningPrefix + kUrlScheme, 0) != 0)
    {
        error =
            program + " said \"" + line.substr(0, kLongestLine) + "\" instead of where it listens";
        return false;
    }
    url = line.substr(kListeningPrefix.size());
    return true;
}

bool LocalService::IsRunning()
{
    if (pid <= 0)
        return false;
    int status = 0;
    const pid_t reaped = waitpid(pid, &status, WNOHANG);
    if (reaped == 0)
        return true;
    if (reaped == pid)
        Reaped(status);
    else
    {
        // Someone else reaped it (a SIGCHLD handler set to ignore): it is gone all the same.
        lastEnd = "ended, status unknown";
        pid = -1;
    }
    return false;
}

void LocalService::Stop()
{
    if (!IsRunning())
        return;
    kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        poll(nullptr, 0, int(kReapInterval.count()));
    if (reaped == 0)
    {
        kill(pid, SIGKILL);
        reaped = waitpid(pid, &status, 0);
    }
    if (reaped == pid)
        Reaped(status);
    else
    {
        lastEnd = "ended, status unknown";
        pid = -1;
    }
}

void LocalService::Reaped(int status)
{
    if (WIFEXITED(status))
        lastEnd = "exit status " + std::to_string(WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        lastEnd = "signal " + std::to_string(WTERMSIG(status));
    else
        lastEnd = "ended";
    pid = -1;
    url.clear();
}
