#pragma once

#include <wx/string.h>

// Moves the file from to the path to, replacing a file there. One rename when both are on
// the same file system; otherwise a copy through AtomicOutputFile, then the source removed.
// The destination holds the old file or the whole new one at every moment. On failure,
// false with the system's text in error, and from left as it was.
bool MoveIntoPlace(const wxString& from, const wxString& to, wxString& error);
