#pragma once

#include "ProcessRunner.h"
#include "ResolverJson.h"

#include <string>
#include <vector>

// The command lines the resolver program (yt-dlp) is run with: the options every run gets,
// the lookup of a page, and the stream of one format from a description already printed.
class ResolverCommands
{
public:
    ResolverCommands() = default;
    // userConfiguration: the user's own yt-dlp configuration file, or empty; browser: the
    // browser whose cookies every run reads, or empty.
    ResolverCommands(std::string program, std::string userConfiguration, std::string browser);

    // Prints the page's description; writes the cookies it used to cookieFile when one is
    // given.
    ProcessRunner::Command Lookup(const std::string& page, const std::string& cookieFile) const;

    // What a stream needs of its lookup besides the format.
    struct Described
    {
        const std::string& infoFile;
        const std::string& title;
        const std::string& uploader;
        const std::string& pictureFile; // the MP3's cover, or empty
    };
    // The programs that write one format to their standard output, each one's output the
    // next one's input.
    // An MP3 whose sound the service relays itself is converted from soundAddress, where the
    // service serves that sound, with no resolver run.
    std::vector<ProcessRunner::Command> Stream(const Described& video, const ResolvedFormat& format,
                                               const std::string& soundAddress = "") const;

private:
    ProcessRunner::Command Base() const;

    std::string program;
    std::string userConfiguration;
    std::string browser;
};
