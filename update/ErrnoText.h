#pragma once

#include <string>

// The system's words for an errno value. std::strerror's text for an unknown value lives in one
// buffer shared by all threads, and the updates run on threads of their own.
std::string ErrnoText(int error);
