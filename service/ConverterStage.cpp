#include "ConverterStage.h"

namespace
{
const char* const kProgram = "ffmpeg";
const char* const kFromPipe = "pipe:0";
const char* const kToPipe = "pipe:1";

ProcessRunner::Command Start()
{
    // -xerror: a source cut short is a failure, which cuts the transfer; ffmpeg would
    // otherwise take it for the end and exit with success.
    return {kProgram, "-nostdin", "-hide_banner", "-loglevel", "error", "-xerror"};
}
} // namespace

ProcessRunner::Command ConverterStage::Remux()
{
    ProcessRunner::Command command = Start();
    // MPEG-TS carries AAC with ADTS headers, which MP4 does not take, and ffmpeg 5 does not
    // convert them by itself. HLS sound is AAC; other sound fails here and cuts the transfer.
    command.insert(command.end(),
                   {"-i", kFromPipe, "-map", "0", "-c", "copy", "-bsf:a", "aac_adtstoasc", "-f",
                    "mp4", "-movflags", "frag_keyframe+empty_moov+default_base_moof", kToPipe});
    return command;
}

ProcessRunner::Command ConverterStage::Mp3(const std::string& title, const std::string& uploader,
                                           const std::string& pictureFile)
{
    ProcessRunner::Command command = Start();
    command.insert(command.end(), {"-i", kFromPipe});
    if (!pictureFile.empty())
        command.insert(command.end(), {"-i", pictureFile});
    command.insert(command.end(), {"-map", "0:a:0", "-c:a", "libmp3lame", "-q:a", "2"});
    if (!pictureFile.empty())
        command.insert(command.end(), {"-map", "1:v:0", "-c:v", "copy", "-disposition:v:0",
                                       "attached_pic", "-metadata:s:v:0", "comment=Cover (front)"});
    // Tags of the page, not of the source file; given as arguments, never through a shell.
    command.insert(command.end(), {"-map_metadata", "-1", "-metadata", "title=" + title});
    if (!uploader.empty())
        command.insert(command.end(), {"-metadata", "artist=" + uploader});
    command.insert(command.end(), {"-id3v2_version", "3", "-f", "mp3", kToPipe});
    return command;
}
