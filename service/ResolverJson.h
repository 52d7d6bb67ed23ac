#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

// The pure half of the resolver: which ids and format ids may reach a command line, and how
// yt-dlp's JSON description of a watch page becomes the records of a video reply.

// Exactly 11 characters from A-Z a-z 0-9 _ -.
bool IsValidVideoId(const std::string& id);
// One or more characters from A-Z a-z 0-9 _ - + (a "+" joins formats that are merged).
bool IsValidFormatId(const std::string& id);

// What the service does to the resolver's bytes before they are sent.
enum class StreamConversion
{
    None,
    // MPEG-TS (an HLS format) into fragmented MP4, the packets copied.
    Remux,
    // The best sound, encoded as MP3.
    Mp3
};

struct ResolvedFormat
{
    std::string itag;      // the id the reply and the stream address use
    std::string selection; // what the stream asks the resolver for (its -f argument)
    std::string type;      // MIME type
    std::string quality;   // "720p", "129k" or the format's note
    std::string size;      // bytes, exact or approximate; empty when unknown
    StreamConversion conversion = StreamConversion::None;
};

struct ResolvedVideo
{
    std::string title;
    std::string uploader;  // empty when the page names none
    std::string thumbnail; // the address of the picture to fetch; empty when none fits
    std::vector<ResolvedFormat> formats;
};

// The most records a reply carries: the program's table holds no more.
constexpr std::size_t kMostResolvedFormats = 32;

// The record of the service's own MP3 of the best sound: its itag, type and quality.
extern const char* const kMp3FormatId;
extern const char* const kMp3Type;
extern const char* const kMp3Quality;

// Fills video from the description: the formats a person can use as they are (picture with
// sound, and sound alone) and the merges of video-only formats with sound above the heights
// offered with sound, best first, at most kMostResolvedFormats. False with a reason when
// the description is not usable (not an object, no formats, none of them usable).
bool MapResolverJson(const nlohmann::json& info, ResolvedVideo& video, std::string& error);
