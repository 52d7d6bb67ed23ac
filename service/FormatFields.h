#pragma once

#include <nlohmann/json.hpp>

#include <string>

// Reading the fields of one entry of yt-dlp's "formats" list, where any field may be missing,
// null or of another type than documented: the reply mapping and the merge finder read the
// same fields and must read them alike.
namespace FormatFields
{
// What a codec field says when the format lacks that stream ("vcodec": "none").
inline const char* const kNoCodec = "none";
// The extension and protocol of a storyboard: a grid of stills, neither picture nor sound.
inline const char* const kStoryboard = "mhtml";

// The text of a field; empty when it is missing or not text.
inline std::string Text(const nlohmann::json& object, const char* key)
{
    const auto value = object.find(key);
    return value != object.end() && value->is_string() ? value->get<std::string>() : std::string();
}

// The number of a field; fallback when it is missing or not a number.
inline double Number(const nlohmann::json& object, const char* key, double fallback = 0)
{
    const auto value = object.find(key);
    return value != object.end() && value->is_number() ? value->get<double>() : fallback;
}
} // namespace FormatFields
