#include "ResolverCommands.h"

#include "ConverterStage.h"
#include "MergedFormats.h"

ResolverCommands::ResolverCommands(std::string name, std::string configuration,
                                   std::string browserName)
    : program(std::move(name)), userConfiguration(std::move(configuration)),
      browser(std::move(browserName))
{
}

ProcessRunner::Command ResolverCommands::Base() const
{
    // Never a configuration file of the folder it runs in (one can name commands to run);
    // the user's own stays honoured, cookies and all, as it would be on their command line.
    ProcessRunner::Command command{program, "--ignore-config"};
    if (!userConfiguration.empty())
        command.insert(command.end(), {"--config-locations", userConfiguration});
    // Lookups and streams alike: a site that asks for a sign-in asks for both.
    if (!browser.empty())
        command.insert(command.end(), {"--cookies-from-browser", browser});
    return command;
}

ProcessRunner::Command ResolverCommands::Lookup(const std::string& page,
                                                const std::string& cookieFile) const
{
    ProcessRunner::Command command = Base();
    // The cookies yt-dlp used, written out at its end for the service's own requests.
    if (!cookieFile.empty())
        command.insert(command.end(), {"--cookies", cookieFile});
    // The address goes after "--", so nothing in it is ever read as an option.
    command.insert(command.end(), {"--dump-single-json", "--no-playlist", "--", page});
    return command;
}

std::vector<ProcessRunner::Command> ResolverCommands::Stream(const Described& video,
                                                             const ResolvedFormat& format,
                                                             const std::string& soundAddress) const
{
    if (format.conversion == StreamConversion::Mp3 && !soundAddress.empty())
        return {ConverterStage::Mp3(video.title, video.uploader, video.pictureFile, soundAddress)};
    ProcessRunner::Command command = Base();
    // Left to itself yt-dlp skips a fragment it cannot fetch and ends with success: the
    // client would get a file with a hole, reported complete.
    command.insert(command.end(), {"--load-info-json", video.infoFile, "--format", format.selection,
                                   "--quiet", "--no-progress", "--abort-on-unavailable-fragment"});
    // A merge of two formats: the resolver's ffmpeg writes it in the record's container.
    if (format.selection.find('+') != std::string::npos)
        for (const std::string& option : MergedFormats::StreamOptions(format.type))
            command.push_back(option);
    command.insert(command.end(), {"--output", "-"});
    switch (format.conversion)
    {
    case StreamConversion::Remux:
        return {command, ConverterStage::Remux()};
    case StreamConversion::Mp3:
        return {command, ConverterStage::Mp3(video.title, video.uploader, video.pictureFile)};
    case StreamConversion::None:
        break;
    }
    return {command};
}
