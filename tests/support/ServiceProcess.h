#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

// The stand-in service as a child process on a free loopback port. It prints
// "listening on http://ADDR:PORT" once it accepts connections; the port is read from there.
class ServiceProcess
{
public:
    ServiceProcess() = default;
    ~ServiceProcess() { Stop(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Start(const std::string& executable, std::vector<std::string> args)
    {
        constexpr int kStartLimitMs = 10000;
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return false;
        // Tests never reach the network: the resolver runs only where a test asks for one.
        if (std::find(args.begin(), args.end(), "--resolver") == args.end())
            args.insert(args.begin(), {"--resolver", "none"});
        args.insert(args.begin(), {executable, "--port", "0"});
        pid = fork();
        if (pid == 0)
        {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            close(pipeFds[1]);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(executable.c_str(), argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        output = pipeFds[0];
        if (pid < 0)
            return false;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        std::string seen;
        const std::string marker = "listening on ";
        while (std::chrono::steady_clock::now() < deadline)
        {
            pollfd p{output, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = read(output, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            seen.append(buffer, size_t(n));
            const size_t at = seen.find(marker);
            const size_t end = at == std::string::npos ? at : seen.find('\n', at);
            if (end != std::string::npos)
            {
                baseUrl = seen.substr(at + marker.size(), end - at - marker.size());
                return true;
            }
        }
        return false;
    }

    void Stop()
    {
        if (pid > 0)
        {
            // A service that does not end on request within the limit is killed.
            constexpr int kStopLimitMs = 2000;
            kill(pid, SIGTERM);
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopLimitMs);
            while (waitpid(pid, nullptr, WNOHANG) == 0)
            {
                if (std::chrono::steady_clock::now() > deadline)
                {
                    kill(pid, SIGKILL);
                    waitpid(pid, nullptr, 0);
                    break;
                }
                poll(nullptr, 0, 10);
            }
            pid = -1;
        }
        if (output >= 0)
        {
            close(output);
            output = -1;
        }
    }

    // "http://127.0.0.1:PORT", without a trailing slash.
    const std::string& BaseUrl() const { return baseUrl; }

private:
    pid_t pid = -1;
    int output = -1;
    std::string baseUrl;
};
