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
#include "ServiceOptions.h"
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
#include <vector>

namespace
{
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
// Connections served at once. Each one holds a thread only while it is open; streams last
// minutes, so this is far above what one desktop asks for, and still bounds the threads.
constexpr std::size_t kMostConnections = 512;
// How long a connection may stay silent before the service closes it: short, so that clients
// that connect and send nothing do not pile up.
constexpr auto kReadLimit = std::chrono::seconds(5);
// The library's own wait for a client that does not take what it is sent.
constexpr auto kWriteLimit = std::chrono::seconds(5);
// No route takes a body; a small one is read and ignored, anything larger refused unread.
constexpr std::size_t kMostBodyBytes = std::size_t{8} * 1024;
// Requests here are one line and a few headers: these bounds are far above them and far below
// what a client could otherwise make the service hold.
constexpr std::size_t kMostHeadBytes = std::size_t{64} * 1024;
constexpr std::size_t kMostHeaders = 100;
constexpr auto kHeadLimit = std::chrono::seconds(10);
// Connections still sending their head; past this the one that has waited longest is cut.
constexpr std::size_t kMostWaitingHeads = 64;
// A stop signal can arrive before the accept loop runs; it is held back this long for it.
constexpr auto kStopWaitLimit = std::chrono::seconds(5);
constexpr auto kStopPollInterval = std::chrono::milliseconds(10);

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
    const ParsedServiceOptions parsed =
        ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc), DefaultCatalogue());
    if (!parsed.error.empty())
    {
        std::cerr << "norvik-service: " << parsed.error << "\n";
        WriteServiceUsage(std::cerr, DefaultCatalogue());
        return kExitUsage;
    }
    if (parsed.help)
    {
        WriteServiceUsage(std::cout, DefaultCatalogue());
        return 0;
    }
    ServiceOptions options = parsed.options;
    std::string error;
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
        const char* path = std::getenv("PATH"); // NOLINT(concurrency-mt-unsafe): no threads yet
        const std::string searched =
            options.toolsDir + (path && *path ? ":" + std::string(path) : "");
        setenv("PATH", searched.c_str(), 1); // NOLINT(concurrency-mt-unsafe): no threads yet
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
