#include "DirectSource.h"

#include "FormatFields.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace
{
using namespace FormatFields;

// A media address is a few hundred characters; this only bounds a hostile description.
constexpr std::size_t kMostUrlChars = std::size_t{16} * 1024;
constexpr std::size_t kMostHeaders = 64;
constexpr std::size_t kMostHeaderChars = std::size_t{8} * 1024;

// Headers the service sets itself for each ranged request, or that would change what the body
// is (a compressed body has no byte ranges of the file): the description's are dropped.
const char* const kLeftOutHeaders[] = {
    "host",       "range",      "if-range",       "content-length",
    "connection", "te",         "expect",         "transfer-encoding",
    "upgrade",    "keep-alive", "accept-encoding"};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool IsTokenCharacter(unsigned char c)
{
    return std::isalnum(c) || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

// A value may hold blanks and tabs, never a line break that would start a header of its own.
bool IsFieldValue(const std::string& value)
{
    return std::none_of(value.begin(), value.end(),
                        [](unsigned char c) { return (c < ' ' && c != '\t') || c == 0x7F; });
}

bool IsHttpAddress(const std::string& url)
{
    const std::string scheme = Lower(url.substr(0, url.find(':')));
    return url.size() <= kMostUrlChars && (scheme == "http" || scheme == "https") &&
           url.find("://") == scheme.size() &&
           std::none_of(url.begin(), url.end(),
                        [](unsigned char c) { return c <= ' ' || c == 0x7F; });
}

bool ReadHeaders(const nlohmann::json& format, std::vector<std::string>& lines)
{
    const auto given = format.find("http_headers");
    if (given == format.end() || given->is_null())
        return true;
    if (!given->is_object() || given->size() > kMostHeaders)
        return false;
    for (const auto& [name, value] : given->items())
    {
        if (!value.is_string() || name.empty() ||
            !std::all_of(name.begin(), name.end(),
                         [](unsigned char c) { return IsTokenCharacter(c); }))
            return false;
        const std::string text = value.get<std::string>();
        if (!IsFieldValue(text) || name.size() + text.size() > kMostHeaderChars)
            return false;
        const std::string lower = Lower(name);
        if (std::none_of(std::begin(kLeftOutHeaders), std::end(kLeftOutHeaders),
                         [&lower](const char* left) { return lower == left; }))
        {
            std::string line = name;
            line += ": ";
            line += text;
            lines.push_back(std::move(line));
        }
    }
    return true;
}
} // namespace

std::optional<DirectSource> DirectSource::Read(const nlohmann::json& format)
{
    if (!format.is_object())
        return std::nullopt;
    const std::string protocol = Text(format, "protocol");
    // A format in parts is fetched part by part: yt-dlp knows how.
    const auto fragments = format.find("fragments");
    if ((protocol != "http" && protocol != "https") ||
        (fragments != format.end() && !fragments->is_null()))
        return std::nullopt;
    DirectSource source;
    source.url = Text(format, "url");
    if (!IsHttpAddress(source.url) || !ReadHeaders(format, source.headers))
        return std::nullopt;
    // Only an exact size promises a length; an approximate one never does.
    const double size = Number(format, "filesize", -1);
    if (size >= 0 && size == std::floor(size))
        source.size = std::uintmax_t(size);
    source.needsCookies = !Text(format, "cookies").empty();
    return source;
}
