#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The videos the stand-in service knows, read from a JSON catalogue. Files are named
// relative to the catalogue's folder; their sizes are read from the disk when it loads, so a
// reply's sizes and the served Content-Length always agree.
class Catalogue
{
public:
    struct Stream
    {
        int itag = 0;
        std::string type;
        std::string quality;
        std::string file;
        std::uintmax_t size = 0;
    };
    struct Video
    {
        std::string id;
        std::string title;
        std::string thumbnail;
        std::vector<Stream> streams;
    };
    struct File
    {
        std::string path;
        std::uintmax_t size = 0;
    };

    // False with a message that names the catalogue, the video, the stream and the fault
    // when the catalogue cannot be used; the catalogue is then left empty.
    bool Load(const std::string& path, std::string& error);

    const Video* Find(const std::string& id) const;
    // Only names the catalogue lists resolve, so a request can never reach any other file.
    const File* StreamFile(const std::string& name) const;
    const File* ThumbnailFile(const std::string& name) const;

private:
    std::vector<Video> videos;
    std::map<std::string, File> streamFiles;
    std::map<std::string, File> thumbnailFiles;
};
