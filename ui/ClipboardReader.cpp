#include "ui/ClipboardReader.h"

#include <wx/time.h>
#include <wx/utils.h>

// Last: Xlib's macros (None, Status, Bool) clash with the toolkit's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace
{
// Where the owner puts its answer on the requestor window.
const char kPropertyName[] = "NORVIK_CLIPBOARD";
// The longest answer read, in the 32-bit units X counts in (4 MiB): far more than any
// address. An owner sends a larger one in pieces (INCR), which reads as no text.
constexpr long kMaxAnswerUnits = 1L << 20;
// Without change notices, an owner that has not answered in this time is asked anew.
constexpr std::int64_t kUnnoticedAnswerLimitMs = 2000;
// Change notices of the clipboard came with version 1 of XFIXES.
constexpr int kFixesMajor = 1;
constexpr int kFixesMinor = 0;

std::int64_t NowMs()
{
    return wxGetUTCTimeMillis().GetValue();
}
} // namespace

ClipboardReader::ClipboardReader()
{
    _XDisplay* shared = wxGetX11Display();
    if (!shared)
        return;
    display = XOpenDisplay(DisplayString(shared));
    if (!display)
        return;
    const Window root = DefaultRootWindow(display);
    watchWindow = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    requestor = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    clipboardAtom = XInternAtom(display, "CLIPBOARD", False);
    utf8Atom = XInternAtom(display, "UTF8_STRING", False);
    incrAtom = XInternAtom(display, "INCR", False);
    propertyAtom = XInternAtom(display, kPropertyName, False);
    int errorBase = 0;
    // The extension wants to hear the client's version before any other request.
    int major = kFixesMajor;
    int minor = kFixesMinor;
    hasChangeNotices = XFixesQueryExtension(display, &changeEventBase, &errorBase) &&
                       XFixesQueryVersion(display, &major, &minor) && major >= kFixesMajor;
    if (hasChangeNotices)
        XFixesSelectSelectionInput(display, watchWindow, clipboardAtom,
                                   XFixesSetSelectionOwnerNotifyMask |
                                       XFixesSelectionWindowDestroyNotifyMask |
                                       XFixesSelectionClientCloseNotifyMask);
    XFlush(display);
}

ClipboardReader::~ClipboardReader()
{
    if (display)
        XCloseDisplay(display);
}

bool ClipboardReader::Poll(wxString& text)
{
    if (!display)
        return false;
    bool answered = false;
    // XPending reads what the connection holds without waiting for more.
    while (XPending(display) > 0)
    {
        XEvent event;
        XNextEvent(display, &event);
        if (hasChangeNotices && event.type == changeEventBase + XFixesSelectionNotify)
            changed = true;
        else if (event.type == SelectionNotify && asking && event.xselection.requestor == requestor)
        {
            asking = false;
            answered = TakeAnswer(text);
        }
    }
    if (asking)
    {
        // A stopped owner holds the open question; a new owner is asked at once, and without
        // notices the question is given up after a while.
        const bool stale = !hasChangeNotices && NowMs() - askedAtMs > kUnnoticedAnswerLimitMs;
        if (changed || stale)
        {
            DropQuestion();
            Ask();
        }
    }
    else if (changed || !hasChangeNotices)
        Ask();
    return answered;
}

void ClipboardReader::Ask()
{
    changed = false;
    XConvertSelection(display, clipboardAtom, utf8Atom, propertyAtom, requestor, CurrentTime);
    XFlush(display);
    asking = true;
    askedAtMs = NowMs();
}

void ClipboardReader::DropQuestion()
{
    XDestroyWindow(display, requestor);
    requestor = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    asking = false;
}

bool ClipboardReader::TakeAnswer(wxString& text)
{
    text.clear();
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // No property: the owner had no text, or there was no owner. Both read as empty.
    if (XGetWindowProperty(display, requestor, propertyAtom, 0, kMaxAnswerUnits, True,
                           AnyPropertyType, &type, &format, &count, &remaining, &data) != Success)
        return true;
    if (data && format == 8 && remaining == 0)
    {
        const char* bytes = reinterpret_cast<const char*>(data);
        if (type == utf8Atom)
            text = wxString::FromUTF8(bytes, count);
        else if (type == XA_STRING)
            text = wxString(bytes, wxConvISO8859_1, count);
    }
    if (data)
        XFree(data);
    return true;
}
