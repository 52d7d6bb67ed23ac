#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The head of one answer to a range request, read a header line at a time as libcurl hands
// the lines on, redirects included: its status, what its Content-Range and Content-Length say,
// its validators, and whether it is the final answer or a redirect that is followed.
struct RangeAnswer
{
    long status = 0;
    std::optional<std::uint64_t> rangeFirst; // "bytes FIRST-LAST/TOTAL"
    std::optional<std::uint64_t> total;      // TOTAL, unless "*"
    std::optional<std::uint64_t> length;     // Content-Length
    std::string etag;
    std::string lastModified;
    bool moved = false;    // a Location: libcurl follows it
    bool complete = false; // the head of the final answer is in
    bool checked = false;  // found to be the range that was asked for

    // Takes one header line; a status line begins a new answer.
    void Read(const std::string& line);
    // The strong ETag, else Last-Modified, else empty: what If-Range may name.
    std::string Validator() const;
};
