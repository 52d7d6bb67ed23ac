// Starts a program and measures, from outside, the time until the X server maps a top-level
// window of that process: it watches the root window's children (no window manager runs, so
// top-level windows are those children) and matches the window's _NET_WM_PID to the child.
// Prints "pid=N mapped_ms=T" as soon as the window is mapped, then waits for the program to
// end, so the caller can measure the program meanwhile and end it by its pid.
//
// bench_window_map PROGRAM [ARGUMENT...]
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace
{
// A window that has not come up by then is a failed start, not a slow one.
constexpr auto kMapLimit = std::chrono::seconds(30);
constexpr int kPollSliceMs = 50;

// The pid a top-level window says it belongs to, -1 when it says none.
long WindowPid(Display* display, Window window, Atom pidAtom)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data)
    {
        if (type == XA_CARDINAL && format == 32 && count == 1)
            pid = long(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return pid;
}

// Windows may vanish between their MapNotify and the property read.
int IgnoreXErrors(Display*, XErrorEvent*)
{
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display)
    {
        std::fprintf(stderr, "bench_window_map: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(IgnoreXErrors);
    const Window root = DefaultRootWindow(display);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const auto started = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
    {
        std::perror("fork");
        return 1;
    }
    if (child == 0)
    {
        close(ConnectionNumber(display));
        execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        _exit(127);
    }

    bool mapped = false;
    while (!mapped)
    {
        if (std::chrono::steady_clock::now() - started > kMapLimit)
            break;
        if (XPending(display) == 0)
        {
            pollfd watch = {ConnectionNumber(display), POLLIN, 0};
            poll(&watch, 1, kPollSliceMs);
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child)
            {
                std::fprintf(stderr, "bench_window_map: %s ended before showing a window\n",
                             argv[1]);
                return 1;
            }
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify || event.xmap.event != root || event.xmap.override_redirect)
            continue;
        mapped = WindowPid(display, event.xmap.window, pidAtom) == long(child);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    if (!mapped)
    {
        std::fprintf(stderr, "bench_window_map: no window of %s was mapped in time\n", argv[1]);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }
    std::printf("pid=%ld mapped_ms=%.3f\n", long(child), ms);
    std::fflush(stdout);
    XCloseDisplay(display);
    int status = 0;
    waitpid(child, &status, 0);
    return 0;
}
