#include "MergedFormats.h"

#include "FormatFields.h"
#include "TextMatch.h"

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

namespace
{
using namespace FormatFields;
using namespace TextMatch;

const char* const kMp4 = "video/mp4";
const char* const kWebm = "video/webm";
// Given before each of the merging ffmpeg's two inputs. ffmpeg reads each input in a thread
// of its own and queues only 8 packets by default; the muxer, waiting for the other input's
// turn, stalls the reader that is ahead almost at once. A deeper queue took a merge of a
// 35 MB presentation from 1.43 s to 0.83 s here; 128 is where the gain ends (256 and 1024
// were no faster) and costs a few megabytes of packets at most.
const char* const kInputOptions = "ffmpeg_i:-thread_queue_size 128";

enum class Family
{
    Other,
    H264,
    Vp9OrAv1,
    Aac,
    Opus
};

struct Format
{
    std::string id;
    int height = 0;
    double bitrate = 0;
    std::optional<std::uintmax_t> size;
    Family family = Family::Other;
};

Family FamilyOf(const std::string& name)
{
    const std::string codec = Lower(name);
    if (StartsWith(codec, "avc1") || StartsWith(codec, "avc3") || StartsWith(codec, "h264"))
        return Family::H264;
    if (StartsWith(codec, "vp9") || StartsWith(codec, "vp09") || StartsWith(codec, "av01"))
        return Family::Vp9OrAv1;
    if (StartsWith(codec, "mp4a") || StartsWith(codec, "aac"))
        return Family::Aac;
    if (StartsWith(codec, "opus"))
        return Family::Opus;
    return Family::Other;
}

Family SoundFor(Family video)
{
    return video == Family::H264 ? Family::Aac : Family::Opus;
}

// A size of 0 counts as unknown here, and the approximate size is asked instead: a merge
// tells its size only when both parts have a real one.
std::optional<std::uintmax_t> SizeOf(const nlohmann::json& format)
{
    for (const char* key : {"filesize", "filesize_approx"})
    {
        const double size = Number(format, key);
        if (size > 0)
            return std::uintmax_t(size);
    }
    return std::nullopt;
}

Format Read(const nlohmann::json& format, const std::string& codec)
{
    Format read;
    read.id = Text(format, "format_id");
    read.height = Height(format);
    read.bitrate = Number(format, "tbr");
    // A part is picture or sound alone, so at most one of the two is there to stand in.
    if (read.bitrate <= 0)
        read.bitrate = std::max(Number(format, "vbr"), Number(format, "abr"));
    read.size = SizeOf(format);
    read.family = FamilyOf(codec);
    return read;
}

// By its extension or its protocol: a merge's parts go to ffmpeg as streams of picture or
// sound, so nothing yt-dlp fetches as a storyboard may be one.
bool IsStoryboard(const nlohmann::json& format)
{
    return Text(format, "ext") == kStoryboard || Text(format, "protocol") == kStoryboard;
}
} // namespace

std::vector<MergedFormats::Merge> MergedFormats::Find(const nlohmann::json& formats, Best withSound)
{
    if (!formats.is_array())
        return {};
    std::vector<Format> pictures;
    std::map<Family, Format> bestSound;
    for (const nlohmann::json& format : formats)
    {
        if (!format.is_object() || IsStoryboard(format) || Text(format, "format_id").empty())
            continue;
        // Only a codec that is named and the other one "none" makes a part of a merge.
        const std::string vcodec = Text(format, "vcodec");
        const std::string acodec = Text(format, "acodec");
        const bool picture = vcodec != kNoCodec;
        const bool sound = acodec != kNoCodec;
        if (picture && sound)
            continue;
        if (picture && !vcodec.empty())
        {
            const Format video = Read(format, vcodec);
            if (video.family != Family::Other && video.height > 0)
                pictures.push_back(video);
        }
        else if (sound && !acodec.empty())
        {
            const Format audio = Read(format, acodec);
            if (audio.family == Family::Aac || audio.family == Family::Opus)
            {
                const auto known = bestSound.find(audio.family);
                if (known == bestSound.end() || audio.bitrate > known->second.bitrate)
                    bestSound[audio.family] = audio;
            }
        }
    }

    std::map<int, Format, std::greater<int>> bestOfHeight;
    for (const Format& video : pictures)
    {
        if (std::make_tuple(video.height, video.bitrate) <=
            std::make_tuple(withSound.height, withSound.bitrate))
            continue;
        if (bestSound.count(SoundFor(video.family)) == 0)
            continue;
        const auto known = bestOfHeight.find(video.height);
        if (known == bestOfHeight.end() || video.bitrate > known->second.bitrate)
            bestOfHeight[video.height] = video;
    }

    std::vector<Merge> merges;
    for (const auto& [height, video] : bestOfHeight)
    {
        const Format& audio = bestSound.at(SoundFor(video.family));
        Merge merge;
        merge.videoFormat = video.id;
        merge.soundFormat = audio.id;
        merge.type = video.family == Family::H264 ? kMp4 : kWebm;
        merge.height = height;
        merge.bitrate = video.bitrate + audio.bitrate;
        if (video.size && audio.size)
            merge.size = *video.size + *audio.size;
        merges.push_back(merge);
    }
    return merges;
}

std::vector<std::string> MergedFormats::StreamOptions(const std::string& type)
{
    // The resolver hands these to the ffmpeg that merges; they come after its own "-f",
    // and ffmpeg heeds the last. Without a file to seek back in, an MP4 must carry its
    // index in each fragment. Left alone, ffmpeg takes an input cut short for its end and
    // exits with success: "-xerror" makes that a failure, so the transfer is cut as well.
    std::vector<std::string> options{"--downloader-args", kInputOptions};
    if (type == kWebm)
        options.insert(options.end(), {"--downloader-args", "ffmpeg_o:-f webm -xerror"});
    else
        options.insert(options.end(),
                       {"--downloader-args", "ffmpeg_o:-f mp4 -movflags "
                                             "frag_keyframe+empty_moov+default_base_moof -xerror"});
    return options;
}
