#include "download/TransferResume.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace
{
constexpr int kHttpOk = 200;
constexpr int kHttpPartialContent = 206;
constexpr int kHttpSuccessEnd = 300;

std::string Trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// "bytes 1000-1999/5000" gives 1000; -1 when the value is not a byte range.
std::int64_t RangeStart(const std::string& value)
{
    const std::string unit = "bytes ";
    if (Lower(value).compare(0, unit.size(), unit) != 0)
        return -1;
    const char* digits = value.c_str() + unit.size();
    if (!std::isdigit(static_cast<unsigned char>(*digits)))
        return -1;
    char* end = nullptr;
    const long long start = std::strtoll(digits, &end, 10);
    return *end == '-' ? start : -1;
}
} // namespace

void TransferResume::Reset()
{
    keptBytes = 0;
    complete = false;
    validator.clear();
}

void TransferResume::Restore(std::int64_t bytes, const std::string& keptValidator)
{
    keptBytes = bytes > 0 ? bytes : 0;
    complete = false;
    validator = keptValidator;
}

std::vector<std::string> TransferResume::RequestHeaders() const
{
    std::vector<std::string> headers;
    if (keptBytes <= 0)
        return headers;
    headers.push_back("Range: bytes=" + std::to_string(keptBytes) + "-");
    if (!validator.empty())
        headers.push_back("If-Range: " + validator);
    return headers;
}

void TransferResume::ForgetResponse()
{
    status = 0;
    etag.clear();
    lastModified.clear();
    rangeStart = -1;
}

void TransferResume::OnHeaderLine(const std::string& line)
{
    if (line.compare(0, 5, "HTTP/") == 0)
    {
        ForgetResponse();
        const size_t space = line.find(' ');
        status = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
        return;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        return;
    const std::string name = Lower(Trimmed(line.substr(0, colon)));
    const std::string value = Trimmed(line.substr(colon + 1));
    if (name == "etag")
        etag = value;
    else if (name == "last-modified")
        lastModified = value;
    else if (name == "content-range")
        rangeStart = RangeStart(value);
}

TransferResume::BodyStart TransferResume::StartBody()
{
    if (status == kHttpPartialContent && rangeStart == keptBytes && keptBytes > 0)
        return BodyStart::Append;
    if (status == kHttpPartialContent && rangeStart != 0)
        return BodyStart::Unusable;
    if (status != kHttpPartialContent && (status < kHttpOk || status >= kHttpSuccessEnd))
        return BodyStart::Unusable;
    keptBytes = 0;
    complete = false;
    // A weak ETag may not be used in If-Range; the date is the fallback.
    const bool strongTag = !etag.empty() && etag.compare(0, 2, "W/") != 0;
    validator = strongTag ? etag : lastModified;
    return BodyStart::FromZero;
}

bool TransferResume::IsConnectionCut(int curlCode)
{
    switch (curlCode)
    {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
        return true;
    default:
        return false;
    }
}
