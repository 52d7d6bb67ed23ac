#include "Replies.h"

#include <cctype>
#include <sstream>

namespace
{
const char* const kStatusOk = "status:ok";
const char* const kStatusFail = "status:fail";
const char* const kVersionKey = "ROVOVIVOZ_VC";
const char* const kKeptPunctuation = "-_.,";
constexpr unsigned char kFirstNonAscii = 0x80;

bool EndsWith(const std::string& text, const std::string& ending)
{
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

bool IsUnreserved(unsigned char c)
{
    return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
}
} // namespace

std::string CleanTitle(const std::string& title)
{
    std::string cleaned;
    bool pendingSpace = false;
    for (unsigned char c : title)
    {
        // Bytes from 0x80 up are parts of UTF-8 letters; the catalogue's JSON is valid UTF-8.
        const bool kept = std::isalnum(c) || c >= kFirstNonAscii ||
                          std::string(kKeptPunctuation).find(char(c)) != std::string::npos;
        if (!kept)
        {
            pendingSpace = true;
            continue;
        }
        // A leading dot would hide the file; leading and doubled spaces only look broken.
        if (cleaned.empty() && c == '.')
            continue;
        if (pendingSpace && !cleaned.empty())
            cleaned += ' ';
        pendingSpace = false;
        cleaned += char(c);
    }
    return cleaned;
}

std::string BaseUrl(const std::string& hostHeader, const std::string& bindAddress, int port)
{
    if (!hostHeader.empty())
        return "http://" + hostHeader;
    // An IPv6 address needs brackets to keep its colons apart from the port's.
    const bool ipv6 = bindAddress.find(':') != std::string::npos;
    const std::string host = ipv6 ? "[" + bindAddress + "]" : bindAddress;
    return "http://" + host + ":" + std::to_string(port);
}

std::string VideoReply(const Catalogue::Video& video, const std::string& baseUrl)
{
    const std::string cleaned = CleanTitle(video.title);
    std::ostringstream reply;
    reply << kStatusOk << "\n"
          << "title:" << video.title << "\n"
          << "cleanedtitle:" << (cleaned.empty() ? video.id : cleaned) << "\n"
          << "thumbnail:" << baseUrl << "/thumbs/" << EncodePath(video.thumbnail) << "\n"
          << "nrecords:" << video.streams.size() << "\n";
    for (std::size_t i = 0; i < video.streams.size(); ++i)
    {
        const Catalogue::Stream& s = video.streams[i];
        reply << "itag" << i << ":" << s.itag << "\n"
              << "url" << i << ":" << baseUrl << "/media/" << EncodePath(s.file) << "\n"
              << "type" << i << ":" << s.type << "\n"
              << "quality" << i << ":" << s.quality << "\n"
              << "size" << i << ":" << s.size << "\n";
    }
    return reply.str();
}

std::string FailReply()
{
    return std::string(kStatusFail) + "\n";
}

std::string VersionReply(const std::string& version)
{
    return kVersionKey + version + "\n";
}

std::string EncodePath(const std::string& name)
{
    static const char* const kHexDigits = "0123456789ABCDEF";
    constexpr int kNibbleBits = 4;
    constexpr unsigned char kNibbleMask = 0x0f;
    std::string encoded;
    for (unsigned char c : name)
    {
        if (IsUnreserved(c))
            encoded += char(c);
        else
        {
            encoded += '%';
            encoded += kHexDigits[c >> kNibbleBits];
            encoded += kHexDigits[c & kNibbleMask];
        }
    }
    return encoded;
}

std::string ContentTypeOf(const std::string& file)
{
    static const struct
    {
        const char* ending;
        const char* type;
    } kTypes[] = {{".mp4", "video/mp4"}, {".webm", "video/webm"}, {".3gp", "video/3gpp"},
                  {".m4a", "audio/mp4"}, {".flv", "video/x-flv"}, {".mp3", "audio/mpeg"},
                  {".png", "image/png"}, {".jpg", "image/jpeg"},  {".jpeg", "image/jpeg"},
                  {".gif", "image/gif"}, {".webp", "image/webp"}};
    std::string lower;
    for (unsigned char c : file)
        lower += char(std::tolower(c));
    for (const auto& t : kTypes)
        if (EndsWith(lower, t.ending))
            return t.type;
    return "application/octet-stream";
}
