// Norvik's metadata service and version endpoint: answers the line-based video replies from a
// JSON catalogue and serves the streams and thumbnails they name, and looks every other id up
// through the resolver program (yt-dlp), relaying its streams. This file reads the command
// line and starts and stops the server; the pieces live in their own files.
#include "Catalogue.h"
#include "ConnectionThreads.h"
#include "DefaultCatalogue.h"
#include "ProcessRunner.h"
#include "Replies.h"
#include "Resolver.h"
#include "ServiceLog.h"
#include "ServiceRoutes.h"
#include "ServiceSecret.h"
#include "ServiceServer.h"

#include <curl/curl.h>
#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace
{
constexpr int kDefaultPort = 8731;
constexpr long kHighestPort = 65535;
const char* const kDefaultBind = "127.0.0.1";
const char* const kDefaultVersion = "2.0";
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr long kMostResolveSeconds = 3600;
// Connections served at once. Each one holds a thread only while it is open; streams last
// minutes, so this is far above what one desktop asks for, and still bounds the threads.
constexpr std::size_t kMostConnections = 512;
// How long a connection may stay silent before the service closes it: short, so that clients
// that connect and send nothing do not pile up.
constexpr auto kReadLimit = std::chrono::seconds(5);
// The library's own wait for a client that does not take what it is sent.
constexpr auto kWriteLimit = std::chrono::seconds(5);
// No route takes a body; a small one is read and ignored, anything larger refused unread.
constexpr std::size_t kMostBodyBytes = 8 * 1024;
// Requests here are one line and a few headers: these bounds are far above them and far below
// what a client could otherwise make the service hold.
constexpr std::size_t kMostHeadBytes = 64 * 1024;
constexpr std::size_t kMostHeaders = 100;
constexpr auto kHeadLimit = std::chrono::seconds(10);
// Connections still sending their head; past this the one that has waited longest is cut.
constexpr std::size_t kMostWaitingHeads = 64;
// A stop signal can arrive before the accept loop runs; it is held back this long for it.
constexpr auto kStopWaitLimit = std::chrono::seconds(5);
constexpr auto kStopPollInterval = std::chrono::milliseconds(10);

struct Options
{
    int port = kDefaultPort;
    std::string bind = kDefaultBind;
    std::string catalogue = DefaultCatalogue();
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

void Usage(std::ostream& out)
{
    out << "usage: norvik-service [--port N] [--bind ADDRESS] [--catalogue FILE] "
           "[--version TEXT]\n"
           "                      [--media-rate BYTES] [--resolver PROGRAM] [--watch-url "
           "TEMPLATE]\n"
           "                      [--resolve-timeout SECONDS] [--secret TEXT | --no-secret]\n"
           "                      [--cookies-from-browser NAME] [--tools-dir DIR]\n"
           "  --port N            port to listen on (default "
        << kDefaultPort
        << "; 0 picks a free one)\n"
           "  --bind ADDRESS      address to listen on (default "
        << kDefaultBind
        << ")\n"
           "  --catalogue FILE    JSON catalogue of the videos (default "
        << DefaultCatalogue()
        << ")\n"
           "  --version TEXT      version published at /hub.php?s=curver (default "
        << kDefaultVersion
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

bool ParseCount(const std::string& text, std::uintmax_t& value)
{
    constexpr std::size_t kMostDigits = 12;
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

// False with a message when the command line cannot be followed.
bool ParseOptions(int argc, char** argv, Options& options, bool& help, std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            help = true;
            return true;
        }
        if (arg == "--no-secret")
        {
            options.useSecret = false;
            continue;
        }
        if (arg != "--port" && arg != "--bind" && arg != "--catalogue" && arg != "--version" &&
            arg != "--media-rate" && arg != "--resolver" && arg != "--watch-url" &&
            arg != "--resolve-timeout" && arg != "--secret" && arg != "--cookies-from-browser" &&
            arg != "--tools-dir")
        {
            error = "unknown option \"" + arg + "\"";
            return false;
        }
        if (i + 1 >= argc)
        {
            error = arg + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--port" && !ParsePort(value, options.port))
        {
            error = "--port \"" + value + "\" is not a port number from 0 to " +
                    std::to_string(kHighestPort);
            return false;
        }
        if (arg == "--media-rate" && !ParseCount(value, options.mediaRate))
        {
            error = "--media-rate \"" + value + "\" is not a number of bytes";
            return false;
        }
        if (arg == "--resolve-timeout")
        {
            std::uintmax_t seconds = 0;
            if (!ParseCount(value, seconds) || seconds == 0 || seconds > kMostResolveSeconds)
            {
                error = "--resolve-timeout \"" + value +
                        "\" is not a number of seconds from 1 to " +
                        std::to_string(kMostResolveSeconds);
                return false;
            }
            options.resolver.timeout = std::chrono::seconds(seconds);
        }
        if (arg == "--watch-url" && !Resolver::IsWatchUrlTemplate(value))
        {
            error = "--watch-url \"" + value + "\" must name the id exactly once, as %s";
            return false;
        }
        if (arg == "--secret" && !ServiceSecret::IsUsable(value))
        {
            error = "--secret needs at least " + std::to_string(ServiceSecret::kShortest) +
                    " characters of A-Z a-z 0-9 _ -";
            return false;
        }
        if (arg == "--resolver" && value.empty())
        {
            error = "--resolver needs a program, or none";
            return false;
        }
        // A browser's name is one word; anything else would reach yt-dlp as another option.
        if (arg == "--cookies-from-browser" &&
            (value.empty() ||
             value.find_first_not_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos))
        {
            error = "--cookies-from-browser needs a browser's name in lowercase letters";
            return false;
        }
        if (arg == "--tools-dir" &&
            (value.empty() || value.front() != '/' || value.find(':') != std::string::npos))
        {
            error = "--tools-dir needs an absolute path without \":\"";
            return false;
        }
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
    }
    if (!options.useSecret && !options.secret.empty())
    {
        error = "--secret and --no-secret exclude each other";
        return false;
    }
    return true;
}

// Stops the server from an ordinary thread, since stop() is not safe inside a signal handler.
void StopOnSignals(httplib::Server& server, const sigset_t& signals)
{
    std::thread(
        [&server, signals]
        {
            int received = 0;
            sigwait(&signals, &received);
            const auto deadline = std::chrono::steady_clock::now() + kStopWaitLimit;
            while (!server.is_running() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(kStopPollInterval);
            // Streams end when their programs do, so the server's wait for its connections
            // is short.
            ProcessRunner::KillAll();
            if (!server.is_running())
                std::_Exit(kExitFailure);
            server.stop();
        })
        .detach();
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    std::string error;
    if (!ParseOptions(argc, argv, options, help, error))
    {
        std::cerr << "norvik-service: " << error << "\n";
        Usage(std::cerr);
        return kExitUsage;
    }
    if (help)
    {
        Usage(std::cout);
        return 0;
    }
    if (options.useSecret && options.secret.empty() && !ServiceSecret::Make(options.secret, error))
    {
        std::cerr << "norvik-service: " << error << "\n";
        return kExitFailure;
    }
    Catalogue catalogue;
    if (!catalogue.Load(options.catalogue, error))
    {
        std::cerr << "norvik-service: " << error << "\n";
        return kExitFailure;
    }

    // Set before any thread starts: every resolver run inherits it, and so does the search
    // for the resolver itself.
    if (!options.toolsDir.empty())
    {
        const char* path = std::getenv("PATH");
        const std::string searched =
            options.toolsDir + (path && *path ? ":" + std::string(path) : "");
        setenv("PATH", searched.c_str(), 1);
    }

    // Blocked before any thread starts, so every thread inherits the mask and only the
    // waiting thread ever takes these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ServiceServer server(
        {{kMostHeadBytes, kMostHeaders, kHeadLimit, kMostWaitingHeads}, kReadLimit, kWriteLimit});
    // cpp-httplib's default sets SO_REUSEPORT, which lets a second service share a busy port
    // and take half its requests; SO_REUSEADDR alone still allows a quick restart.
    server.set_socket_options(
        [](socket_t sock)
        {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
    server.new_task_queue = [] { return new ConnectionThreads(kMostConnections); };
    server.set_read_timeout(kReadLimit);
    server.set_write_timeout(kWriteLimit);
    server.set_payload_max_length(kMostBodyBytes);
    int port = options.port;
    const std::string bind = options.bind;

    // Once, before any thread: pictures are fetched with libcurl on the request threads.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    Resolver resolver(options.resolver);
    if (resolver.Enabled() && !resolver.ProgramFound(error))
        LogLine("norvik-service: " + error + "; only the catalogue's videos are answered");
    ServiceRoutes routes(
        catalogue, resolver,
        {bind, port, options.version, options.mediaRate, options.resolver.timeout, options.secret});
    routes.Install(server);

    if (port == 0)
        port = server.bind_to_any_port(bind);
    else if (!server.bind_to_port(bind, port))
        port = -1;
    if (port <= 0)
    {
        std::cerr << "norvik-service: cannot listen on " << bind << " port " << options.port
                  << "\n";
        return kExitFailure;
    }
    if (!server.WidenBacklog())
        LogLine("norvik-service: the listening queue stays at the library's 5 connections");
    routes.SetPort(port);
    StopOnSignals(server, stopSignals);
    const std::string path = options.secret.empty() ? "" : "/" + options.secret;
    std::cout << "listening on " << BaseUrl("", bind, port) << path << std::endl;
    const bool served = server.listen_after_bind();
    // Anything still running belongs to a request that is gone.
    ProcessRunner::KillAll();
    return served ? 0 : kExitFailure;
}
