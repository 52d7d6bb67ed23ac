#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Sites offer picture and sound together only at low heights; above them a page has
// video-only and sound-only formats, which the resolver can merge with ffmpeg while it
// streams. This finds the merges worth offering and says how to have them streamed.
class MergedFormats
{
public:
    struct Merge
    {
        std::string videoFormat;
        std::string soundFormat;
        std::string type; // "video/mp4" or "video/webm"
        int height = 0;
        double bitrate = 0;                 // kilobits a second, picture and sound together
        std::optional<std::uintmax_t> size; // only when both parts' sizes are known

        // The resolver's format selection that merges the two.
        std::string Selection() const { return videoFormat + "+" + soundFormat; }
        std::string Quality() const { return std::to_string(height) + "p"; }
    };

    // The best format with picture and sound that the reply offers, which a merge must beat.
    struct Best
    {
        int height = 0;
        double bitrate = 0;
    };

    // From the resolver's "formats" list: for each height where a video-only format beats
    // the best offered format with picture and sound (taller, or as tall at a higher
    // bitrate), the best video-only format of that height that has sound to go with it in
    // one container, merged with the best such sound: H.264 with AAC as MP4, VP9 or AV1 with
    // Opus as WebM. Tallest first, one merge a height.
    static std::vector<Merge> Find(const nlohmann::json& formats, Best withSound);

    // The resolver's options that make its ffmpeg write a merge of this type to standard
    // output as that container. Left alone it writes MPEG-TS for MP4; a fragmented MP4
    // needs no seeking back, so it can go to a pipe.
    static std::vector<std::string> StreamOptions(const std::string& type);
};
