#include "ServiceOptions.h"

#include "ServiceSecret.h"

#include <ostream>

namespace
{
constexpr long kHighestPort = 65535;
constexpr long kMostResolveSeconds = 3600;
// Twelve digits pass any rate or timeout anyone means, and stay far from an overflow.
constexpr std::size_t kMostDigits = 12;

bool ParseCount(const std::string& text, std::uintmax_t& value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > kMostDigits)
        return false;
    value = std::stoull(text);
    return true;
}

bool ParsePort(const std::string& text, int& port)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > std::to_string(kHighestPort).size())
        return false;
    const long value = std::stol(text);
    if (value > kHighestPort)
        return false;
    port = int(value);
    return true;
}

bool TakesValue(const std::string& arg)
{
    for (const char* option :
         {"--port", "--bind", "--catalogue", "--version", "--media-rate", "--resolver",
          "--watch-url", "--resolve-timeout", "--secret", "--cookies-from-browser", "--tools-dir"})
        if (arg == option)
            return true;
    return false;
}

// Sets one option from its value; the reason when the value cannot be used.
std::string TakeValue(const std::string& arg, const std::string& value, ServiceOptions& options)
{
    if (arg == "--port" && !ParsePort(value, options.port))
        return "--port \"" + value + "\" is not a port number from 0 to " +
               std::to_string(kHighestPort);
    if (arg == "--media-rate" && !ParseCount(value, options.mediaRate))
        return "--media-rate \"" + value + "\" is not a number of bytes";
    if (arg == "--resolve-timeout")
    {
        std::uintmax_t seconds = 0;
        if (!ParseCount(value, seconds) || seconds == 0 || seconds > kMostResolveSeconds)
            return "--resolve-timeout \"" + value + "\" is not a number of seconds from 1 to " +
                   std::to_string(kMostResolveSeconds);
        options.resolver.timeout = std::chrono::seconds(seconds);
    }
    if (arg == "--watch-url" && !Resolver::IsWatchUrlTemplate(value))
        return "--watch-url \"" + value + "\" must name the id exactly once, as %s";
    if (arg == "--secret" && !ServiceSecret::IsUsable(value))
        return "--secret needs at least " + std::to_string(ServiceSecret::kShortest) +
               " characters of A-Z a-z 0-9 _ -";
    if (arg == "--resolver" && value.empty())
        return "--resolver needs a program, or none";
    // A browser's name is one word; anything else would reach yt-dlp as another option.
    if (arg == "--cookies-from-browser" &&
        (value.empty() ||
         value.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos))
        return "--cookies-from-browser needs a browser's name in lowercase letters";
    if (arg == "--tools-dir" &&
        (value.empty() || value.front() != '/' || value.find(':') != std::string::npos))
        return "--tools-dir needs an absolute path without \":\"";
    if (arg == "--resolver")
        options.resolver.program = value;
    else if (arg == "--cookies-from-browser")
        options.resolver.cookiesFromBrowser = value;
    else if (arg == "--tools-dir")
        options.toolsDir = value;
    else if (arg == "--watch-url")
        options.resolver.watchUrl = value;
    else if (arg == "--bind")
        options.bind = value;
    else if (arg == "--catalogue")
        options.catalogue = value;
    else if (arg == "--version")
        options.version = value;
    else if (arg == "--secret")
        options.secret = value;
    return "";
}
} // namespace

ParsedServiceOptions ParseServiceOptions(const std::vector<std::string>& args,
                                         const std::string& defaultCatalogue)
{
    ParsedServiceOptions parsed;
    ServiceOptions& options = parsed.options;
    options.catalogue = defaultCatalogue;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h")
        {
            parsed.help = true;
            return parsed;
        }
        if (arg == "--no-secret")
        {
            options.useSecret = false;
            continue;
        }
        if (!TakesValue(arg))
        {
            parsed.error = "unknown option \"" + arg + "\"";
            return parsed;
        }
        if (i + 1 >= args.size())
        {
            parsed.error = arg + " needs a value";
            return parsed;
        }
        parsed.error = TakeValue(arg, args[++i], options);
        if (!parsed.error.empty())
            return parsed;
    }
    if (!options.useSecret && !options.secret.empty())
        parsed.error = "--secret and --no-secret exclude each other";
    return parsed;
}

void WriteServiceUsage(std::ostream& out, const std::string& defaultCatalogue)
{
    out << "usage: norvik-service [--port N] [--bind ADDRESS] [--catalogue FILE] "
           "[--version TEXT]\n"
           "                      [--media-rate BYTES] [--resolver PROGRAM] [--watch-url "
           "TEMPLATE]\n"
           "                      [--resolve-timeout SECONDS] [--secret TEXT | --no-secret]\n"
           "                      [--cookies-from-browser NAME] [--tools-dir DIR]\n"
           "  --port N            port to listen on (default "
        << ServiceOptions::kDefaultPort
        << "; 0 picks a free one)\n"
           "  --bind ADDRESS      address to listen on (default "
        << ServiceOptions::kDefaultBind
        << ")\n"
           "  --catalogue FILE    JSON catalogue of the videos (default "
        << defaultCatalogue
        << ")\n"
           "  --version TEXT      version published at /hub.php?s=curver (default "
        << ServiceOptions::kDefaultVersion
        << ")\n"
           "  --media-rate BYTES  send each stream at most this many bytes a second, to watch\n"
           "                      progress and stops (default 0: unlimited)\n"
           "  --resolver PROGRAM  yt-dlp or a program like it, run for ids the catalogue does\n"
           "                      not hold (default yt-dlp from PATH; none: catalogue only)\n"
           "  --watch-url TEMPLATE  the watch page it is given, %s standing for the id\n"
           "                      (default "
        << Resolver::Settings().watchUrl
        << ")\n"
           "  --resolve-timeout SECONDS  how long one run may take (default "
        << Resolver::Settings().timeout.count()
        << ")\n"
           "  --secret TEXT       the first part of every path (at least "
        << ServiceSecret::kShortest
        << " characters of\n"
           "                      A-Z a-z 0-9 _ -; default: a random one made at start)\n"
           "  --cookies-from-browser NAME  the browser whose sign-in the resolver uses, by its\n"
           "                      name for it (firefox, chromium, chrome, ...; default none)\n"
           "  --tools-dir DIR     a folder put first on the resolver's PATH (an absolute path)\n"
           "  --no-secret         serve at the root: anyone on this machine can use the service\n"
           "  --help              this text\n"
           "Prints \"listening on http://ADDRESS:PORT/SECRET\" once it accepts requests, and\n"
           "logs one line per request to the standard error: method, target, status, bytes.\n";
}
