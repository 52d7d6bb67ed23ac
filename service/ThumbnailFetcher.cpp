#include "ThumbnailFetcher.h"

#include "TextMatch.h"

#include <curl/curl.h>

#include <memory>

namespace
{
constexpr long kConnectLimitSeconds = 2;

struct Sink
{
    std::string* bytes;
    std::size_t most;
    bool tooLarge = false;
};

// Ends the transfer as soon as the body grows past the limit: a server that sends no
// length, or lies about it, must not fill the memory.
std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const std::size_t length = size * count;
    if (sink->bytes->size() + length > sink->most)
    {
        sink->tooLarge = true;
        return 0;
    }
    sink->bytes->append(data, length);
    return length;
}
} // namespace

ThumbnailFetcher::ThumbnailFetcher(std::size_t most, std::chrono::milliseconds limit)
    : mostBytes(most), timeLimit(limit)
{
}

std::string ThumbnailFetcher::SniffType(const std::string& bytes)
{
    if (TextMatch::StartsWith(bytes, "\xFF\xD8\xFF"))
        return "image/jpeg";
    if (TextMatch::StartsWith(bytes, "\x89PNG\r\n\x1A\n"))
        return "image/png";
    return {};
}

bool ThumbnailFetcher::Fetch(const std::string& url, Picture& picture, std::string& error) const
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
    {
        error = "libcurl could not start a transfer";
        return false;
    }
    std::string bytes;
    Sink sink{&bytes, mostBytes};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMostRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectLimitSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(timeLimit.count()));
    // Refused before the body when the server states its length.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(mostBytes));
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    const CURLcode result = curl_easy_perform(handle);
    if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
    {
        error = "picture larger than " + std::to_string(mostBytes) + " bytes";
        return false;
    }
    if (result != CURLE_OK)
    {
        error = curl_easy_strerror(result);
        return false;
    }
    const std::string type = SniffType(bytes);
    if (type.empty())
    {
        error = "not a JPEG or PNG picture";
        return false;
    }
    picture.bytes = std::move(bytes);
    picture.type = type;
    return true;
}
