#pragma once

#include "RangeAnswer.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Fetches a stretch of one media file over http or https with libcurl, the way the site's own
// player and yt-dlp do: in range requests of at most kMostRangeBytes, one after another on one
// connection, each answer checked against what was asked and the bytes handed on as they come.
// Nothing is kept beyond libcurl's buffer and one block, so a stream costs the same memory
// whatever its length. Driven through libcurl's multi interface, so the first answer's head can be
// read before anything is promised to the client, and every wait looks at the client and at the end
// of the service. Call curl_global_init once before the first fetch.
class RangedFetch
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::uint64_t kMostRangeBytes = std::uint64_t{10} * 1024 * 1024;
    // As the last byte: up to the end of the file.
    static constexpr std::uint64_t kToEnd = UINT64_MAX;

    struct Source
    {
        std::string url;
        std::vector<std::string> headers; // "Name: value" lines
        // The Netscape cookie file yt-dlp wrote, or empty.
        std::string cookieFile;
    };

    // What the first answer said.
    enum class Head
    {
        Part,          // the bytes asked for, from the first one asked
        Whole,         // the whole file from its start: the source takes no ranges
        Refused,       // 403 or 410: the address has expired or is not for this client
        Unsatisfiable, // 416: nothing of the file at that offset
        Failed         // no answer, or another status; the error says which
    };

    enum class Flow
    {
        More,       // an answer was passed on whole; more are to come
        End,        // every byte asked for was passed on
        ClientGone, // the writer refused, or the client is no longer there
        Failed      // the source failed, or the service is ending; the error says which
    };

    // Takes bytes on; false when they cannot be delivered.
    using Writer = std::function<bool(const char*, std::size_t)>;
    // Whether the client still waits for the bytes; asked while the source is silent.
    using Presence = std::function<bool()>;

    explicit RangedFetch(Source given);
    ~RangedFetch();
    RangedFetch(const RangedFetch&) = delete;
    RangedFetch& operator=(const RangedFetch&) = delete;

    // Asks for the bytes from first to last (both included; last may be kToEnd) and waits, at
    // most until the deadline, for the first answer's head. The body is held back until Pump.
    // May be called again to start over elsewhere.
    Head Open(std::uint64_t first, std::uint64_t last, Clock::time_point deadline,
              std::string& error);
    // The whole file's length, when an answer said it.
    std::optional<std::uint64_t> Total() const { return total; }
    // The first answer's strong ETag, else its Last-Modified, else empty.
    const std::string& Validator() const { return validator; }

    // Passes the body on to write until the answer under way has ended, then asks for the next
    // range. Between a More and the next call nothing is fetched.
    Flow Pump(const Writer& write, const Presence& clientThere, std::string& error);

    // Ends every fetch's waits and refuses new ones: the service is ending.
    static void EndAll();

private:
    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    void SetUpHandle();
    // Sends the request for the next range, from the byte given on.
    void Request(std::uint64_t from);
    // Whether the answer under way is the next range of the file the first answer began.
    bool FitsTheFirst(std::string& why) const;
    // Takes libcurl's word that the request under way has ended.
    void CollectEnd();
    // After the request under way ended: whether every byte asked for has been passed on.
    bool AllPassed() const;
    // The answer under way says the file has no bytes past the last one passed on.
    bool AtFileEnd() const;
    Flow Drive(const Presence& clientThere, std::string& error);
    // Hands the gathered block to the writer; false when the client is gone.
    bool PassBlock();

    Source source;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    curl_slist* headersIfRange = nullptr;
    std::string rangeText;
    std::string ifRangeLine;

    std::uint64_t position = 0;   // the next byte to pass on
    std::uint64_t last = kToEnd;  // the last byte wanted
    std::uint64_t askedFirst = 0; // the request under way
    std::uint64_t askedLast = 0;
    bool whole = false; // one answer brings the whole file
    bool inMulti = false;
    bool paused = false;
    bool ended = false; // the request under way has ended
    CURLcode endedWith = CURLE_OK;
    bool reachedLast = false; // the body went past the last byte wanted
    bool clientGone = false;
    std::string bodyError; // why the body was refused
    RangeAnswer answer;    // the answer under way
    std::optional<std::uint64_t> total;
    std::string validator;
    const Writer* writer = nullptr;
    // The body gathered for the writer, at most a block.
    std::string block;
};
