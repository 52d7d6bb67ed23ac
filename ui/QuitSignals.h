#pragma once

#include <wx/evtloopsrc.h>

#include <functional>
#include <memory>

// Turns SIGTERM (logout, a service manager), SIGHUP (the terminal closed) and SIGINT (Ctrl-C)
// into a call on the GUI thread, from the event loop: the handler itself only writes one byte
// to a pipe whose other end the loop watches, since almost nothing else is safe in a handler.
class QuitSignals : public wxEventLoopSourceHandler
{
public:
    // Catches the three signals from now on; onQuit runs once, at the first of them.
    // False when the pipe or its watch cannot be set up: the signals then end the process as
    // before.
    static bool Install(std::function<void()> onQuit);
    // Gives the signals back their default action. For tests.
    static void Uninstall();

    void OnReadWaiting() override;
    void OnWriteWaiting() override {}
    void OnExceptionWaiting() override {}

private:
    std::function<void()> onQuit;
    bool called = false;
    std::unique_ptr<wxEventLoopSource> source;
};
