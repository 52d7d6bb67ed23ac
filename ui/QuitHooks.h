#pragma once

#include <functional>

// Work for the end of the program whatever ends it: the Quit menu, a signal, a lost display.
// The hooks run once, on the GUI thread, as the quit begins; they must not wait long.
class QuitHooks
{
public:
    static void Add(std::function<void()> hook);
    // Runs every hook added so far, once; later calls do nothing.
    static void RunAll();
};
