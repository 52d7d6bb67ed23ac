#pragma once

#include "Resolver.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// What the service's command line asks for, read without touching anything outside: the
// program decides what to do with it (and where the default catalogue is) on its own.
struct ServiceOptions
{
    static constexpr int kDefaultPort = 8731;
    static constexpr const char* kDefaultBind = "127.0.0.1";
    static constexpr const char* kDefaultVersion = "2.0";

    int port = kDefaultPort;
    std::string bind = kDefaultBind;
    std::string catalogue;
    std::string version = kDefaultVersion;
    // Bytes per second for each media body; 0 sends them as fast as the network takes them.
    std::uintmax_t mediaRate = 0;
    Resolver::Settings resolver;
    // Given with --secret; made at start when empty, unless useSecret is off.
    std::string secret;
    bool useSecret = true;
    // Put first on the PATH of every program the service runs, so yt-dlp finds the
    // JavaScript runtime kept there; empty leaves PATH alone.
    std::string toolsDir;
};

// The outcome of reading a command line: the options, or the text that says why it cannot
// be followed; help set when the person asked for the usage instead.
struct ParsedServiceOptions
{
    ServiceOptions options;
    bool help = false;
    // Empty when the command line can be followed.
    std::string error;
};

// Reads the arguments after the program's name; the catalogue is defaultCatalogue unless
// --catalogue names another.
ParsedServiceOptions ParseServiceOptions(const std::vector<std::string>& args,
                                         const std::string& defaultCatalogue);

// The usage text, naming the catalogue served without --catalogue.
void WriteServiceUsage(std::ostream& out, const std::string& defaultCatalogue);
