// Times one ConvertToMp3 of an FLV file, as the job runs it after a download of the MP3 line.
//
// bench_mp3 SOURCE.flv OUTPUT.mp3
#include "download/Mp3Converter.h"

#include <wx/init.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: %s SOURCE.flv OUTPUT.mp3\n", argv[0]);
        return 2;
    }
    wxInitializer toolkit;
    if (!toolkit.IsOk())
    {
        std::fprintf(stderr, "bench_mp3: the toolkit did not start\n");
        return 1;
    }
    // The conversion never replaces a file; each run writes the same output as ffmpeg -y does,
    // so the last run's goes first.
    std::remove(argv[2]);
    const auto started = std::chrono::steady_clock::now();
    wxString placed;
    const bool converted = ConvertToMp3(argv[1], OutputNames(argv[2]), nullptr, &placed);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    struct stat info;
    if (!converted || stat(placed.fn_str(), &info) != 0)
    {
        std::fprintf(stderr, "bench_mp3: the conversion of %s failed\n", argv[1]);
        return 1;
    }
    std::printf("seconds=%.6f bytes=%lld\n", seconds, (long long)(info.st_size));
    return 0;
}
