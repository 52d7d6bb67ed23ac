#pragma once

// A display of the tests' own (Xvfb), if asked with a notification area on it (trayer): for
// window tests that behave differently with one, and for tests that read back pixels, which
// the windows of other tests on a shared display would cover. Started before the toolkit,
// so the whole test process runs on it; tests sharing the common display are not disturbed.

#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

class PrivateDesktop
{
public:
    PrivateDesktop() = default;
    ~PrivateDesktop()
    {
        End(tray);
        End(server);
        if (displayPipe >= 0)
            close(displayPipe);
    }
    PrivateDesktop(const PrivateDesktop&) = delete;
    PrivateDesktop& operator=(const PrivateDesktop&) = delete;

    // Starts the server, and the notification area if asked, and points DISPLAY at them;
    // false, with the reason in error, when either did not come up in time.
    bool Start(bool withNotificationArea, std::string& error)
    {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return Fail(error, "no pipe for the display number");
        const std::string writeEnd = std::to_string(pipeEnds[1]);
        server = Spawn({"Xvfb", "-displayfd", writeEnd.c_str(), "-screen", "0", "1280x1024x24",
                        "-nolisten", "tcp", "-noreset"},
                       pipeEnds[0]);
        close(pipeEnds[1]);
        const std::string number = ReadDisplayNumber(pipeEnds[0]);
        // Left open while the server runs: it ends when a later write finds no reader.
        displayPipe = pipeEnds[0];
        if (server <= 0 || number.empty())
            return Fail(error, "Xvfb reported no display");
        const std::string name = ":" + number;
        setenv("DISPLAY", name.c_str(), 1);
        if (!withNotificationArea)
            return true;
        tray = Spawn({"trayer", "--edge", "top"}, -1);
        if (tray <= 0 || !WaitForNotificationArea())
            return Fail(error, "trayer gave no notification area on " + name);
        return true;
    }

private:
    static constexpr auto kStartLimit = std::chrono::seconds(10);

    static bool Fail(std::string& error, const std::string& why)
    {
        error = why;
        return false;
    }

    static pid_t Spawn(std::initializer_list<const char*> args, int closeInChild)
    {
        std::vector<char*> argv;
        for (const char* a : args)
            argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0)
        {
            if (closeInChild >= 0)
                close(closeInChild);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    static std::string ReadDisplayNumber(int fd)
    {
        pollfd ready{fd, POLLIN, 0};
        const int limitMs = int(std::chrono::milliseconds(kStartLimit).count());
        if (poll(&ready, 1, limitMs) != 1)
            return std::string();
        char buffer[32] = {};
        const ssize_t got = read(fd, buffer, sizeof buffer - 1);
        std::string number;
        for (ssize_t i = 0; i < got && buffer[i] >= '0' && buffer[i] <= '9'; ++i)
            number += buffer[i];
        return number;
    }

    // The notification area is there once some client owns the tray selection.
    static bool WaitForNotificationArea()
    {
        const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
        while (std::chrono::steady_clock::now() < deadline)
        {
            if (Display* display = XOpenDisplay(nullptr))
            {
                const Atom selection = XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False);
                const bool owned = XGetSelectionOwner(display, selection) != None;
                XCloseDisplay(display);
                if (owned)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    static void End(pid_t pid)
    {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }

    pid_t server = 0;
    pid_t tray = 0;
    int displayPipe = -1;
};
