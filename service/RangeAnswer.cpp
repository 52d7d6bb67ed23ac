#include "RangeAnswer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace
{
constexpr long kFirstRedirect = 300;
constexpr long kFirstAfterRedirects = 400;
// Lengths and offsets of up to 18 digits: far past any file, and never past the integer.
constexpr std::size_t kMostDigits = 18;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto end = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, end + 1 - first);
}

std::optional<std::uint64_t> Count(const std::string& digits)
{
    if (digits.empty() || digits.size() > kMostDigits ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(digits);
}
} // namespace

void RangeAnswer::Read(const std::string& line)
{
    if (line.compare(0, std::string("HTTP/").size(), "HTTP/") == 0)
    {
        *this = RangeAnswer();
        const std::size_t space = line.find(' ');
        status = space == std::string::npos ? 0 : std::atol(line.c_str() + space + 1);
        return;
    }
    if (Trimmed(line).empty())
    {
        // A redirect's head is followed by the next answer's.
        complete = !(moved && status >= kFirstRedirect && status < kFirstAfterRedirects);
        return;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return;
    const std::string name = Lower(Trimmed(line.substr(0, colon)));
    const std::string value = Trimmed(line.substr(colon + 1));
    if (name == "location")
        moved = true;
    else if (name == "content-length")
        length = Count(value);
    else if (name == "etag")
        etag = value;
    else if (name == "last-modified")
        lastModified = value;
    else if (name == "content-range" && Lower(value).rfind("bytes ", 0) == 0)
    {
        // "bytes FIRST-LAST/TOTAL", "bytes */TOTAL", "bytes FIRST-LAST/*"
        const std::string range = value.substr(std::string("bytes ").size());
        const std::size_t slash = range.find('/');
        if (slash == std::string::npos)
            return;
        total = Count(range.substr(slash + 1));
        rangeFirst = Count(range.substr(0, range.find('-')));
    }
}

std::string RangeAnswer::Validator() const
{
    // A weak tag may not be named in If-Range.
    const bool strong = !etag.empty() && etag.rfind("W/", 0) != 0;
    return strong ? etag : lastModified;
}
