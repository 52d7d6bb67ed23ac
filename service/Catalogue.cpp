#include "Catalogue.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace
{
constexpr std::size_t kVideoIdLength = 11;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7f;

// Carries the first fault found up to Load, which prefixes the catalogue's name.
struct Fault : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// The replies are line-based "key:value" text, so a value with a line break or another
// control character would forge or cut off lines.
bool HasControlCharacter(const std::string& text)
{
    for (unsigned char c : text)
        if (c < kFirstPrintable || c == kDelete)
            return true;
    return false;
}

std::string Text(const json& object, const char* key, const std::string& where)
{
    const auto member = object.find(key);
    if (member == object.end())
        throw Fault(where + "\"" + key + "\" is missing");
    if (!member->is_string())
        throw Fault(where + "\"" + key + "\" is not a text");
    std::string value = member->get<std::string>();
    if (value.empty())
        throw Fault(where + "\"" + key + "\" is empty");
    if (HasControlCharacter(value))
        throw Fault(where + "\"" + key + "\" holds a line break or another control character");
    return value;
}

int Itag(const json& object, const std::string& where)
{
    const auto member = object.find("itag");
    if (member == object.end())
        throw Fault(where + "\"itag\" is missing");
    if (!member->is_number_integer() || member->get<long long>() < 0 ||
        member->get<long long>() > std::numeric_limits<int>::max())
        throw Fault(where + "\"itag\" is not a whole number from 0 up");
    return member->get<int>();
}

// A file must stay inside the catalogue's folder: the names double as the served addresses.
Catalogue::File Locate(const fs::path& folder, const std::string& name, const std::string& where)
{
    const fs::path relative(name);
    if (relative.is_absolute())
        throw Fault(where + "file \"" + name + "\" is not relative to the catalogue's folder");
    for (const fs::path& part : relative)
        if (part == "..")
        {
            std::string message = where;
            message += "file \"";
            message += name;
            message += "\" leads out of the catalogue's folder";
            throw Fault(message);
        }
    const fs::path full = folder / relative;
    std::error_code ec;
    if (!fs::is_regular_file(full, ec))
        throw Fault(where + "file \"" + name + "\" not found");
    const std::uintmax_t size = fs::file_size(full, ec);
    if (ec)
        throw Fault(where + "file \"" + name + "\" cannot be read");
    return {full.string(), size};
}

json Parse(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Fault("cannot be read");
    try
    {
        return json::parse(in);
    }
    catch (const json::parse_error& e)
    {
        throw Fault(std::string("not valid JSON (") + e.what() + ")");
    }
}
} // namespace

bool Catalogue::Load(const std::string& path, std::string& error)
{
    videos.clear();
    streamFiles.clear();
    thumbnailFiles.clear();
    try
    {
        const json root = Parse(path);
        if (!root.is_object() || !root.contains("videos") || !root["videos"].is_array())
            throw Fault("no \"videos\" list");
        const fs::path folder = fs::path(path).parent_path();
        std::set<std::string> ids;
        std::size_t number = 0;
        for (const json& item : root["videos"])
        {
            // Counted from 1, the way a person reading the file counts.
            std::string where = "video " + std::to_string(++number) + ": ";
            if (!item.is_object())
                throw Fault(where + "not an object");
            Video video;
            video.id = Text(item, "id", where);
            where = "video " + std::to_string(number) + " (\"" + video.id + "\"): ";
            if (video.id.size() != kVideoIdLength)
                throw Fault(where + "id is " + std::to_string(video.id.size()) +
                            " characters long, not " + std::to_string(kVideoIdLength));
            if (!ids.insert(video.id).second)
                throw Fault(where + "id \"" + video.id + "\" appears twice");
            video.title = Text(item, "title", where);
            video.thumbnail = Text(item, "thumbnail", where);
            thumbnailFiles[video.thumbnail] =
                Locate(folder, video.thumbnail, where + "thumbnail: ");

            const auto streams = item.find("streams");
            if (streams == item.end() || !streams->is_array())
                throw Fault(where + "no \"streams\" list");
            if (streams->empty())
                throw Fault(where + "\"streams\" list is empty");
            std::size_t streamNumber = 0;
            for (const json& s : *streams)
            {
                const std::string streamWhere =
                    where + "stream " + std::to_string(++streamNumber) + ": ";
                if (!s.is_object())
                    throw Fault(streamWhere + "not an object");
                Stream stream;
                stream.itag = Itag(s, streamWhere);
                stream.type = Text(s, "type", streamWhere);
                stream.quality = Text(s, "quality", streamWhere);
                stream.file = Text(s, "file", streamWhere);
                const File file = Locate(folder, stream.file, streamWhere);
                stream.size = file.size;
                streamFiles[stream.file] = file;
                video.streams.push_back(stream);
            }
            videos.push_back(video);
        }
    }
    catch (const Fault& fault)
    {
        videos.clear();
        streamFiles.clear();
        thumbnailFiles.clear();
        error = "catalogue " + path + ": " + fault.what();
        return false;
    }
    return true;
}

const Catalogue::Video* Catalogue::Find(const std::string& id) const
{
    for (const Video& video : videos)
        if (video.id == id)
            return &video;
    return nullptr;
}

const Catalogue::File* Catalogue::StreamFile(const std::string& name) const
{
    const auto found = streamFiles.find(name);
    return found == streamFiles.end() ? nullptr : &found->second;
}

const Catalogue::File* Catalogue::ThumbnailFile(const std::string& name) const
{
    const auto found = thumbnailFiles.find(name);
    return found == thumbnailFiles.end() ? nullptr : &found->second;
}
