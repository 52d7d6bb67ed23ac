#include "DashPresentation.h"

#include "ProgramRun.h"

#include <filesystem>

namespace
{
constexpr auto kMakeLimit = std::chrono::seconds(60);
} // namespace

bool DashPresentation::Start(const std::string& folder, std::string& error)
{
    const std::string seconds = std::to_string(kSeconds);
    const std::string manifest = (std::filesystem::path(folder) / "manifest.mpd").string();
    const ProgramRun made = ProgramRun::Run({"ffmpeg",
                                             "-nostdin",
                                             "-hide_banner",
                                             "-loglevel",
                                             "error",
                                             "-f",
                                             "lavfi",
                                             "-i",
                                             "testsrc=size=320x240:rate=25",
                                             "-f",
                                             "lavfi",
                                             "-i",
                                             "sine=frequency=440:sample_rate=44100",
                                             "-t",
                                             seconds,
                                             "-map",
                                             "0:v",
                                             "-map",
                                             "0:v",
                                             "-map",
                                             "1:a",
                                             "-c:v",
                                             "libx264",
                                             "-preset",
                                             "ultrafast",
                                             "-pix_fmt",
                                             "yuv420p",
                                             "-b:v:0",
                                             "300k",
                                             "-s:v:1",
                                             "160x120",
                                             "-b:v:1",
                                             "100k",
                                             "-c:a",
                                             "aac",
                                             "-f",
                                             "dash",
                                             "-adaptation_sets",
                                             "id=0,streams=v id=1,streams=a",
                                             manifest},
                                            "/dev/null", kMakeLimit);
    if (!made.finished || made.code != 0)
    {
        error = "ffmpeg could not make the presentation: " + made.err;
        return false;
    }
    if (!server.Routes().set_mount_point("/", folder) || !server.Start())
    {
        error = "cannot serve " + folder;
        return false;
    }
    return true;
}
