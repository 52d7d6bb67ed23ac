#include "ui/QuitSignals.h"

#include <wx/evtloop.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{
constexpr int kQuitSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Written by the handler, so plain ints set before the handler is installed.
int pipeRead = -1;
int pipeWrite = -1;
QuitSignals* installed = nullptr;

extern "C" void OnQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up; the byte may be lost.
    if (write(pipeWrite, &byte, 1) < 0)
    {
    }
    errno = saved;
}
} // namespace

bool QuitSignals::Install(std::function<void()> onQuit)
{
    if (installed)
        return false;
    int ends[2];
    // Not inherited by child processes, and never blocking the handler or the loop.
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* handler = new QuitSignals;
    handler->onQuit = std::move(onQuit);
    // Watched in every event loop, the modal ones of dialogs included.
    handler->source.reset(wxEventLoopBase::AddSourceForFD(ends[0], handler, wxEVENT_SOURCE_INPUT));
    if (!handler->source)
    {
        delete handler;
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    pipeRead = ends[0];
    pipeWrite = ends[1];
    installed = handler;
    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kQuitSignals)
        sigaction(signal, &action, nullptr);
    return true;
}

void QuitSignals::Uninstall()
{
    if (!installed)
        return;
    for (const int signal : kQuitSignals)
        std::signal(signal, SIG_DFL);
    installed->source.reset();
    delete installed;
    installed = nullptr;
    close(pipeRead);
    close(pipeWrite);
    pipeRead = pipeWrite = -1;
}

void QuitSignals::OnReadWaiting()
{
    char drain[64];
    while (read(pipeRead, drain, sizeof drain) > 0)
    {
    }
    if (called)
        return;
    called = true;
    onQuit();
}
