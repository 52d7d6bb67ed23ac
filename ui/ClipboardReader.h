#pragma once

#include <wx/string.h>

#include <cstdint>

struct _XDisplay; // NOLINT(bugprone-reserved-identifier): Xlib's own name for its Display

// Reads the text of the desktop's clipboard without ever waiting for its owner. Asking the
// owner through the toolkit waits inside a nested event loop until the owner answers, and an
// owner that does not answer (stopped, hung) held the whole window for a minute per read.
//
// This reader talks to the X server over a connection of its own: it sends the question and
// takes the answer in at a later call, asks only when the clipboard changed hands (the X
// server tells, through its XFIXES extension) and keeps at most one question open. When
// another program takes the clipboard while a question waits, that question is dropped
// (its requestor window goes, so a late answer lands nowhere) and the new owner is asked.
class ClipboardReader
{
public:
    // Connects to the display the toolkit uses. IsOk is false when there is no X display
    // (another windowing system): the caller reads the clipboard its old way then.
    ClipboardReader();
    ~ClipboardReader();
    ClipboardReader(const ClipboardReader&) = delete;
    ClipboardReader& operator=(const ClipboardReader&) = delete;

    bool IsOk() const { return display != nullptr; }

    // Never waits. Takes in what the X server sent since the last call; when an answer came,
    // gives its text (empty when the owner had no text) and returns true. Then asks the owner
    // again when the clipboard changed hands, or, on a server that cannot tell, when no
    // question is open or the open one got no answer in time.
    bool Poll(wxString& text);

    // Whether a question is waiting for its answer.
    bool IsAsking() const { return asking; }

private:
    void Ask();
    void DropQuestion();
    bool TakeAnswer(wxString& text);

    _XDisplay* display = nullptr;
    // Receives the change notices; lives as long as the reader.
    unsigned long watchWindow = 0;
    // Receives the answer to the open question; replaced when a question is dropped.
    unsigned long requestor = 0;
    unsigned long clipboardAtom = 0;
    unsigned long utf8Atom = 0;
    unsigned long incrAtom = 0;
    unsigned long propertyAtom = 0;
    bool hasChangeNotices = false;
    int changeEventBase = 0;
    bool changed = true; // the first call asks
    bool asking = false;
    std::int64_t askedAtMs = 0;
};
