#pragma once

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
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

// yt-dlp passes on whatever a page claims (a height of 1e300, a negative rate). No field
// read here is ever negative, and no real one comes near these bounds, which keep every value
// within the integers it is turned into.
inline constexpr double kLargestNumber = 1e15;
inline constexpr int kTallestPicture = 100000;

// The number of a field, at most kLargestNumber; fallback when it is missing, not a number,
// negative or not finite.
inline double Number(const nlohmann::json& object, const char* key, double fallback = 0)
{
    const auto value = object.find(key);
    if (value == object.end() || !value->is_number())
        return fallback;
    const double number = value->get<double>();
    if (!std::isfinite(number) || number < 0)
        return fallback;
    return std::min(number, kLargestNumber);
}

// A height in lines, at most kTallestPicture; 0 when unknown.
inline int Height(const nlohmann::json& object)
{
    return int(std::min(Number(object, "height"), double(kTallestPicture)));
}
} // namespace FormatFields
