#pragma once

#include "TestHttpServer.h"

#include <chrono>
#include <string>

// A DASH presentation made with ffmpeg and served on loopback: two H.264 video-only
// representations (240 and 120 lines) and one AAC sound-only, as a video site offers them
// above its lowest quality. The resolver reads its manifest offline with its generic
// extractor. Only the segment-template layout works with Debian's yt-dlp 2023.03.04: it
// fails on ffmpeg's single-file layout (KeyError 'sourceURL').
class DashPresentation
{
public:
    static constexpr double kSeconds = 2.0;
    static constexpr int kTallHeight = 240;

    // False with ffmpeg's complaint when it could not be made or served.
    bool Start(const std::string& folder, std::string& error);
    std::string ManifestUrl() const { return server.Url("/manifest.mpd"); }

private:
    TestHttpServer server;
};
