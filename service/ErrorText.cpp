#include "ErrorText.h"

#include <string.h>

namespace
{
// Longer than any message of the C library's.
constexpr std::size_t kMostErrorChars = 256;
} // namespace

std::string ErrorText(int error)
{
    char buffer[kMostErrorChars];
    // The GNU form: it returns its text, in the buffer or a static one of its own.
    return strerror_r(error, buffer, sizeof buffer);
}

std::string SignalText(int signal)
{
    const char* text = sigdescr_np(signal);
    return text ? text : "signal " + std::to_string(signal);
}
