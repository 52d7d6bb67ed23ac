#pragma once

#include <string>

// The system's words for an errno value. strerror shares one buffer between threads, and the
// service makes its messages on every connection's thread at once.
std::string ErrorText(int error);

// The system's words for a signal, for the same reason in place of strsignal.
std::string SignalText(int signal);
