#include "config/SystemErrorText.h"

#include <cstring>

namespace
{
// Longer than any of the C library's texts.
constexpr size_t kTextBytes = 256;
} // namespace

wxString SystemErrorText(int code)
{
    char buffer[kTextBytes] = {};
    // The GNU form: the text is at the pointer returned, which need not be the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return wxString(text, wxConvLibc);
}
