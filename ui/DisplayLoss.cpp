#include "ui/DisplayLoss.h"

#include <unistd.h>

// Last: Xlib's macros (None, Status, Bool) clash with the toolkit's names.
#include <X11/Xlib.h>

namespace
{
std::function<void()>& CleanUp()
{
    static std::function<void()> cleanUp;
    return cleanUp;
}

extern "C" int OnDisplayLost(Display*)
{
    // The clean-up may touch Xlib again and land here a second time: run it once.
    static bool running = false;
    if (!running && CleanUp())
    {
        running = true;
        CleanUp()();
    }
    // Not exit(): destructors and the toolkit's own exit work would talk to the dead display.
    _exit(DisplayLoss::kExitStatus);
}
} // namespace

void DisplayLoss::Install(std::function<void()> cleanUp)
{
    CleanUp() = std::move(cleanUp);
    XSetIOErrorHandler(OnDisplayLost);
}
