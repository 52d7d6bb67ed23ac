#include "update/ErrnoText.h"

#include <string.h>

namespace
{
// Longer than any message of the C library's.
constexpr std::size_t kMostErrorChars = 256;
} // namespace

std::string ErrnoText(int error)
{
    char buffer[kMostErrorChars];
    // The GNU form: it returns its text, in the buffer or a static one of its own.
    return strerror_r(error, buffer, sizeof buffer);
}
