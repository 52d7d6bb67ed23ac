#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

// Chooses the one picture of a resolved page that Norvik's preview can show: the desktop
// program decodes JPEG and PNG but not WebP, and shows the picture about 640 pixels wide.
class ThumbnailPicker
{
public:
    // Wider pictures only cost bytes; the preview never shows more.
    static constexpr int kMostWidth = 640;

    // The address to fetch from the resolver's description of a page ("thumbnails", a list
    // of {url, width, height} from worst to best, or else the single "thumbnail"), or the
    // empty text when it offers none that is plainly JPEG or PNG over HTTP(S).
    static std::string Choose(const nlohmann::json& page);

    // True for an http:// or https:// address whose path ends in .jpg, .jpeg or .png.
    static bool LooksLikeJpegOrPng(const std::string& url);
};
