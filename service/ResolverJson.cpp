#include "ResolverJson.h"

#include "FormatFields.h"
#include "MergedFormats.h"
#include "ThumbnailPicker.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace
{
using namespace FormatFields;

constexpr std::size_t kVideoIdLength = 11;
// Format ids are short; this only keeps a hostile description from making huge addresses.
constexpr std::size_t kMostFormatIdLength = 64;

// yt-dlp writes an HLS format to a pipe as the MPEG-TS of its segments.
bool IsHls(const std::string& protocol)
{
    return protocol == "m3u8" || protocol == "m3u8_native";
}

// Containers of the MP4 family, which an MPEG-TS stream is remuxed into.
bool IsMp4Type(const std::string& type)
{
    return type == "video/mp4" || type == "audio/m4a";
}

bool IsIdCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

enum class Kind
{
    PictureAndSound,
    SoundOnly,
    Unusable
};

// A codec field: "none" says the stream lacks it; null or missing says nobody knows, and
// generic pages never tell, so unknown counts as present.
bool HasCodec(const nlohmann::json& format, const char* key)
{
    const auto it = format.find(key);
    return it == format.end() || !it->is_string() || it->get<std::string>() != kNoCodec;
}

// The MIME type a format is offered with, from its container; empty for a container the
// program has no file extension for.
std::string TypeOf(const std::string& extension, Kind kind)
{
    static const struct
    {
        Kind kind;
        const char* extension;
        const char* type;
    } kTypes[] = {
        {Kind::PictureAndSound, "mp4", "video/mp4"},  {Kind::PictureAndSound, "webm", "video/webm"},
        {Kind::PictureAndSound, "3gp", "video/3gpp"}, {Kind::PictureAndSound, "flv", "video/x-flv"},
        {Kind::SoundOnly, "m4a", "audio/m4a"},        {Kind::SoundOnly, "webm", "audio/webm"},
        {Kind::SoundOnly, "mp3", "audio/mp3"}};
    for (const auto& t : kTypes)
        if (t.kind == kind && extension == t.extension)
            return t.type;
    return "";
}

struct Candidate
{
    ResolvedFormat format;
    Kind kind = Kind::Unusable;
    double height = 0;
    double bitrate = 0;
};

std::string WholeNumber(double value)
{
    return std::to_string(static_cast<long long>(std::llround(value)));
}

bool ToCandidate(const nlohmann::json& format, Candidate& candidate)
{
    if (!format.is_object())
        return false;
    const std::string id = Text(format, "format_id");
    const std::string extension = Text(format, "ext");
    // A storyboard by its extension alone: a format offered as it is needs the extension of
    // a known container anyway (see TypeOf), so its protocol is not looked at.
    if (!IsValidFormatId(id) || extension == kStoryboard)
        return false;
    const bool picture = HasCodec(format, "vcodec");
    const bool sound = HasCodec(format, "acodec");
    candidate.kind = picture && sound ? Kind::PictureAndSound
                     : sound          ? Kind::SoundOnly
                                      : Kind::Unusable;
    if (candidate.kind == Kind::Unusable)
        return false;
    candidate.format.type = TypeOf(extension, candidate.kind);
    if (candidate.format.type.empty())
        return false;
    candidate.format.itag = id;
    candidate.format.selection = id;
    // Saved under ".mp4", MPEG-TS bytes would be a file that players misread.
    if (IsHls(Text(format, "protocol")) && IsMp4Type(candidate.format.type))
        candidate.format.conversion = StreamConversion::Remux;
    candidate.height = Height(format);
    const double total = Number(format, "tbr");
    // Sound alone is ranked by its own rate, the one its quality names.
    candidate.bitrate = candidate.kind == Kind::SoundOnly ? Number(format, "abr", total) : total;
    if (candidate.kind == Kind::PictureAndSound && candidate.height > 0)
        candidate.format.quality = WholeNumber(candidate.height) + "p";
    else if (candidate.kind == Kind::SoundOnly && candidate.bitrate > 0)
        candidate.format.quality = WholeNumber(candidate.bitrate) + "k";
    else
        candidate.format.quality = Text(format, "format_note");
    // What yt-dlp says is passed on, an exact size of 0 included; the merge finder, which adds
    // two sizes, takes 0 for unknown.
    const double size = Number(format, "filesize", Number(format, "filesize_approx", -1));
    if (size >= 0)
        candidate.format.size = WholeNumber(size);
    return true;
}
} // namespace

const char* const kMp3FormatId = "mp3-of-best-sound";
const char* const kMp3Type = "audio/mp3";
// With the type, the line Norvik lists: "audio/mp3 audio/music".
const char* const kMp3Quality = "audio/music";

bool IsValidVideoId(const std::string& id)
{
    return id.size() == kVideoIdLength && std::all_of(id.begin(), id.end(), IsIdCharacter);
}

bool IsValidFormatId(const std::string& id)
{
    return !id.empty() && id.size() <= kMostFormatIdLength &&
           std::all_of(id.begin(), id.end(), [](char c) { return IsIdCharacter(c) || c == '+'; });
}

bool MapResolverJson(const nlohmann::json& info, ResolvedVideo& video, std::string& error)
{
    if (!info.is_object())
    {
        error = "the description is not a JSON object";
        return false;
    }
    const auto formats = info.find("formats");
    if (formats == info.end() || !formats->is_array() || formats->empty())
    {
        error = "the description lists no formats";
        return false;
    }
    std::vector<Candidate> candidates;
    // yt-dlp lists formats worst first: walking them backwards keeps, among equals, the one
    // it ranks higher in front.
    for (auto it = formats->rbegin(); it != formats->rend(); ++it)
    {
        Candidate candidate;
        if (ToCandidate(*it, candidate))
            candidates.push_back(candidate);
    }
    // Above the heights a page offers with sound, video-only formats are merged with sound;
    // they then stand among the others by height.
    MergedFormats::Best withSound;
    for (const Candidate& c : candidates)
        if (c.kind == Kind::PictureAndSound &&
            std::make_tuple(int(c.height), c.bitrate) >
                std::make_tuple(withSound.height, withSound.bitrate))
            withSound = {int(c.height), c.bitrate};
    for (const MergedFormats::Merge& merge : MergedFormats::Find(*formats, withSound))
    {
        Candidate candidate;
        candidate.kind = Kind::PictureAndSound;
        candidate.format.itag = merge.Selection();
        candidate.format.selection = merge.Selection();
        if (!IsValidFormatId(candidate.format.selection))
            continue;
        candidate.format.type = merge.type;
        candidate.format.quality = merge.Quality();
        if (merge.size)
            candidate.format.size = std::to_string(*merge.size);
        candidate.height = merge.height;
        candidate.bitrate = merge.bitrate;
        candidates.push_back(candidate);
    }
    if (candidates.empty())
    {
        error = "none of its " + std::to_string(formats->size()) +
                " formats has both picture and sound or sound alone in a known container";
        return false;
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b)
                     {
                         if (a.kind != b.kind)
                             return a.kind == Kind::PictureAndSound;
                         if (a.height != b.height)
                             return a.height > b.height;
                         return a.bitrate > b.bitrate;
                     });
    video.title = Text(info, "title");
    video.uploader = Text(info, "uploader");
    video.thumbnail = ThumbnailPicker::Choose(info);
    video.formats.clear();
    // The best sound: the first sound alone (the highest rate), else the best record with
    // picture and sound that is a single format (a merge's sound is a format of its own).
    const Candidate* sound = nullptr;
    for (const Candidate& c : candidates)
        if (c.kind == Kind::SoundOnly)
        {
            sound = &c;
            break;
        }
    for (const Candidate& c : candidates)
        if (!sound && c.format.selection.find('+') == std::string::npos)
            sound = &c;
    const bool idTaken =
        std::any_of(candidates.begin(), candidates.end(),
                    [](const Candidate& c) { return c.format.itag == kMp3FormatId; });
    const bool withMp3 = sound && !idTaken;
    const std::size_t room = kMostResolvedFormats - (withMp3 ? 1 : 0);
    for (std::size_t i = 0; i < candidates.size() && i < room; ++i)
        video.formats.push_back(candidates[i].format);
    if (withMp3)
    {
        ResolvedFormat mp3;
        mp3.itag = kMp3FormatId;
        mp3.selection = sound->format.selection;
        mp3.type = kMp3Type;
        mp3.quality = kMp3Quality;
        mp3.conversion = StreamConversion::Mp3;
        video.formats.push_back(mp3);
    }
    return true;
}
