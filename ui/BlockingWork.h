#pragma once

#include <wx/utils.h>

#include <memory>

// Marks the main window busy for the length of work that blocks the GUI thread. The toolkit
// dispatches events while it waits on the clipboard, a socket or a message box, so without
// this a timer tick or a click could run inside the work. While the flag is set the timer
// skips its ticks; with disableInput the windows also take no input.
class BlockingWork
{
public:
    BlockingWork(bool& busyFlag, bool disableInput) : flag(busyFlag), previous(busyFlag)
    {
        flag = true;
        if (disableInput)
            disabler = std::make_unique<wxWindowDisabler>();
    }
    ~BlockingWork() { flag = previous; }
    BlockingWork(const BlockingWork&) = delete;
    BlockingWork& operator=(const BlockingWork&) = delete;

private:
    bool& flag;
    bool previous;
    std::unique_ptr<wxWindowDisabler> disabler;
};
