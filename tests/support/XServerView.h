#pragma once

// What the X server itself shows of the test's windows, beside the toolkit's own idea of it.
// One connection of its own serves the whole test process: a connection for every poll
// would crowd the server's queue of new clients, and other test processes starting on the
// same display could then not get in.

#include "support/GuiTestSupport.h"

#include <X11/Xlib.h>

#include <wx/gdicmn.h>
#include <wx/toplevel.h>

inline Display* TestDisplayConnection()
{
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

// The mapped top-level X window at exactly this place and size: the window of a top-level
// wx window, read from the server, not from the toolkit's idea of what it drew.
inline Window FindTopLevel(Display* display, const wxRect& where)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count; ++i)
    {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable &&
            wxRect(a.x, a.y, a.width, a.height) == where)
            found = children[i];
    }
    XFree(children);
    return found;
}

// True once the server has mapped the window: the toolkit learns of it only later, from an
// event that also marks the window shown again, whatever was asked in between.
inline bool IsMappedOnServer(wxTopLevelWindow* top)
{
    Display* display = TestDisplayConnection();
    return display && FindTopLevel(display, top->GetScreenRect()) != 0;
}

// Shows the window and waits until it is on the screen and the toolkit has taken that in, as
// it has long before a user can touch it; hiding it earlier would be undone by the late news.
inline bool ShowOnScreen(wxTopLevelWindow* top)
{
    constexpr long kMapWaitMs = 5000;
    constexpr long kMapNoticeMs = 200;
    top->Show(true);
    const bool mapped = WaitFor([&] { return IsMappedOnServer(top); }, kMapWaitMs);
    RunEventsFor(kMapNoticeMs);
    return mapped;
}
