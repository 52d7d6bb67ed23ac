#include "Replies.h"

#include "TextMatch.h"

#include <cctype>
#include <sstream>

namespace
{
const char* const kStatusOk = "status:ok";
const char* const kStatusFail = "status:fail";
const char* const kVersionKey = "ROVOVIVOZ_VC";
const char* const kKeptPunctuation = "-_.,";
constexpr unsigned char kFirstNonAscii = 0x80;

// A reply value runs to the end of its line: a line break inside would start a new key.
std::string OneLine(const std::string& value)
{
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned char kDelete = 0x7f;
    std::string line = value;
    for (char& c : line)
        if (static_cast<unsigned char>(c) < kFirstPrintable || c == kDelete)
            c = ' ';
    return line;
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

std::string VideoReply(const std::string& id, const std::string& title,
                       const std::string& thumbnailUrl, const std::vector<ReplyRecord>& records)
{
    const std::string cleaned = CleanTitle(title);
    std::ostringstream reply;
    reply << kStatusOk << "\n"
          << "title:" << OneLine(title) << "\n"
          << "cleanedtitle:" << (cleaned.empty() ? OneLine(id) : cleaned) << "\n"
          << "thumbnail:" << OneLine(thumbnailUrl) << "\n"
          << "nrecords:" << records.size() << "\n";
    for (std::size_t i = 0; i < records.size(); ++i)
    {
        const ReplyRecord& r = records[i];
        reply << "itag" << i << ":" << OneLine(r.itag) << "\n"
              << "url" << i << ":" << OneLine(r.url) << "\n"
              << "type" << i << ":" << OneLine(r.type) << "\n"
              << "quality" << i << ":" << OneLine(r.quality) << "\n"
              << "size" << i << ":" << OneLine(r.size) << "\n";
        if (!r.sound.empty())
            reply << "sound" << i << ":" << OneLine(r.sound) << "\n";
    }
    return reply.str();
}

std::string VideoReply(const Catalogue::Video& video, const std::string& baseUrl)
{
    std::vector<ReplyRecord> records;
    for (const Catalogue::Stream& s : video.streams)
        records.push_back({std::to_string(s.itag), baseUrl + "/media/" + EncodePath(s.file), s.type,
                           s.quality, std::to_string(s.size), ""});
    return VideoReply(video.id, video.title, baseUrl + "/thumbs/" + EncodePath(video.thumbnail),
                      records);
}

std::string FailReply(const ResolverFailure& failure)
{
    // Both values are made fit for a reply where the failure is made; blanking them again
    // keeps a line break from ending the reply early whatever their source.
    return std::string(kStatusFail) + "\nreason:" + ReplyMessageLine(failure.reason) +
           "\nmessage:" + ReplyMessageLine(failure.message) + "\n";
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
    const std::string lower = TextMatch::Lower(file);
    for (const auto& t : kTypes)
        if (TextMatch::EndsWith(lower, t.ending))
            return t.type;
    return "application/octet-stream";
}
