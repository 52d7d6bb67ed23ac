#pragma once

#include <wx/string.h>

// The log-on entry starts the program with exactly one argument, "startup" in any letter
// case; then it starts hidden. Every other command line starts it visibly.
inline bool IsLogOnStart(int argc, const wxString* argv)
{
    return argc == 2 && argv[1].IsSameAs("startup", false);
}
