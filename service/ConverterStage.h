#pragma once

#include "ProcessRunner.h"

#include <string>

// The ffmpeg that follows the resolver in a stream's pipeline, reading what yt-dlp writes to
// its standard output and writing the body the client gets.
class ConverterStage
{
public:
    // MPEG-TS (or any container ffmpeg reads) into fragmented MP4, the packets copied: a
    // fragmented MP4 needs no seeking back, so it can go to a pipe.
    static ProcessRunner::Command Remux();

    // The first sound stream as MP3 (LAME, VBR quality 2), with the title and the uploader as
    // ID3 tags and the picture file, when one is named, as the cover.
    static ProcessRunner::Command Mp3(const std::string& title, const std::string& uploader,
                                      const std::string& pictureFile);
};
