#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// Fetches a page's picture over HTTP(S) with libcurl so the service can hand it to Norvik
// from its own plain-HTTP address: Norvik's client speaks no HTTPS and follows no redirect.
// Call curl_global_init once before the first fetch.
class ThumbnailFetcher
{
public:
    static constexpr std::size_t kMostBytes = std::size_t{2} * 1024 * 1024;
    // The fetch runs inside a lookup that Norvik waits for, after the resolver's own run.
    static constexpr std::chrono::milliseconds kTimeLimit{2500};
    static constexpr long kMostRedirects = 5;

    struct Picture
    {
        std::string bytes;
        std::string type; // "image/jpeg" or "image/png"
    };

    // Limits are parameters so tests can use small ones.
    explicit ThumbnailFetcher(std::size_t most = kMostBytes,
                              std::chrono::milliseconds limit = kTimeLimit);

    // True with the picture when the address gives a JPEG or PNG of at most the byte limit
    // within the time limit; otherwise false with a reason fit for a log line. Redirects
    // are followed, HTTPS certificates verified, and nothing but http and https is spoken,
    // since the address comes from a page on the web.
    bool Fetch(const std::string& url, Picture& picture, std::string& error) const;

    // The picture's type from its first bytes, or empty when it is neither JPEG nor PNG:
    // the address's ending is only a hint.
    static std::string SniffType(const std::string& bytes);

private:
    std::size_t mostBytes;
    std::chrono::milliseconds timeLimit;
};
