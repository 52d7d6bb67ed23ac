#include "update/ChildRun.h"

#include "config/SystemErrorText.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace
{
constexpr int kPollMs = 50;

std::string Ended(int status)
{
    if (WIFEXITED(status))
        return "ended with exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "ended by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}
} // namespace

bool ChildRun::Run(const std::vector<std::string>& command, std::chrono::milliseconds limit,
                   std::string& output, std::string& error)
{
    output.clear();
    int fds[2];
    if (command.empty() || pipe2(fds, O_CLOEXEC) != 0)
    {
        error = command.empty() ? "no program"
                                : std::string("pipe: ") + SystemErrorText(errno).utf8_string();
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // A group of its own, so a program past its limit is killed with whatever it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    std::vector<std::string> arguments = command;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (spawned != 0)
    {
        close(fds[0]);
        error = command[0] + ": " + SystemErrorText(spawned).utf8_string();
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    for (;;)
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            timedOut = true;
            break;
        }
        pollfd ready{fds[0], POLLIN, 0};
        if (poll(&ready, 1, kPollMs) <= 0)
            continue;
        char block[4096];
        const ssize_t got = read(fds[0], block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (output.size() < kMostOutputBytes)
            output.append(block, std::min(std::size_t(got), kMostOutputBytes - output.size()));
    }
    close(fds[0]);
    int status = 0;
    pid_t reaped = 0;
    while (!timedOut && (reaped = waitpid(pid, &status, WNOHANG)) == 0)
    {
        if (std::chrono::steady_clock::now() >= deadline)
            timedOut = true;
        else
            poll(nullptr, 0, kPollMs);
    }
    if (timedOut)
    {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        error =
            command[0] + " took longer than " + std::to_string(limit.count()) + " ms and was ended";
        return false;
    }
    if (reaped != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    {
        error = command[0] + " " + Ended(status);
        return false;
    }
    return true;
}
