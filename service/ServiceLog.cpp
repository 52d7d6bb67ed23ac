#include "ServiceLog.h"

#include <iostream>
#include <mutex>

namespace
{
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;
} // namespace

std::string EscapeForLog(const std::string& text)
{
    static const char* const kHexDigits = "0123456789abcdef";
    constexpr int kNibbleBits = 4;
    constexpr unsigned char kNibbleMask = 0x0f;
    std::string escaped;
    escaped.reserve(text.size());
    for (unsigned char c : text)
    {
        if (c == '\\')
            escaped += "\\\\";
        else if (c < kFirstPrintable || c == kDelete)
        {
            escaped += "\\x";
            escaped += kHexDigits[c >> kNibbleBits];
            escaped += kHexDigits[c & kNibbleMask];
        }
        else
            escaped += char(c);
    }
    return escaped;
}

void LogLine(const std::string& text)
{
    const std::string line = EscapeForLog(text) + "\n";
    static std::mutex logLock;
    const std::lock_guard<std::mutex> hold(logLock);
    std::cerr << line << std::flush;
}
