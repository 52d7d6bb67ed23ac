#pragma once

#include <functional>

// When the connection to the X server is lost (the session ended under the program), Xlib
// calls its I/O error handler, which must not return; the toolkit's own ends the process at
// once. This one first runs the given clean-up, then ends the process.
class DisplayLoss
{
public:
    // Status of a process that lost its display, as the toolkit's own handler gives.
    static constexpr int kExitStatus = 1;

    // Replaces the toolkit's handler: call after the display was opened.
    static void Install(std::function<void()> cleanUp);
};
