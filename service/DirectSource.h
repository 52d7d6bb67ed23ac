#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the service needs to fetch a format itself instead of through yt-dlp: for a single file
// that yt-dlp fetches with plain HTTP requests, its description names the media's address and
// the headers to send with it. Merges, HLS, DASH and anything else stay with yt-dlp.
struct DirectSource
{
    std::string url;
    // "Name: value" lines, as the description gives them, less those that would contradict the
    // service's own ranged requests (see kLeftOutHeaders in DirectSource.cpp).
    std::vector<std::string> headers;
    // The exact size the description states, when it states one.
    std::optional<std::uintmax_t> size;
    // A newer yt-dlp names the cookies a format needs in a field of its own, no longer in its
    // headers; the service sends them only from the cookie file of a browser's sign-in.
    bool needsCookies = false;

    // The source of one entry of yt-dlp's "formats" list, or nothing when the format is not
    // one file over http or https, or when its address or headers could reach anything but a
    // plain request for it (another scheme, a line break in a header).
    static std::optional<DirectSource> Read(const nlohmann::json& format);
};
