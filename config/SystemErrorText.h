#pragma once

#include <wx/string.h>

// The system's text for an errno value. Safe on any thread, unlike std::strerror, whose text
// for an unknown value lives in one buffer shared by all threads.
wxString SystemErrorText(int code);
