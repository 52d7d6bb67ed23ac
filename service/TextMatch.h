#pragma once

#include <algorithm>
#include <cctype>
#include <string>

// How the service's pieces test the start and the end of text, and the lower case they
// compare in when case does not count.
namespace TextMatch
{
inline bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

inline bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// ASCII letters lowered; every other byte as it is.
inline std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}
} // namespace TextMatch
