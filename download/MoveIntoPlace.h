#pragma once

#include <wx/string.h>

#include <atomic>

// Moves the file from to the path to, replacing a file there. One rename when both are on
// the same file system; otherwise a copy through AtomicOutputFile, then the source removed.
// The destination holds the old file or the whole new one at every moment. On failure,
// false with the system's text in error, and from left in its place, though maybe with the
// mode of a finished file. A copy ends early, as a failure with nothing written, when stop
// (if given) becomes true.
bool MoveIntoPlace(const wxString& from, const wxString& to, wxString& error,
                   const std::atomic<bool>* stop = nullptr);

// The copy half of MoveIntoPlace: from is copied into a new file at to, which appears only
// when the copy is whole; from stays. Same failures and stop as above.
bool CopyIntoPlace(const wxString& from, const wxString& to, wxString& error,
                   const std::atomic<bool>* stop = nullptr);
