// The stand-in for Norvik's metadata service and version endpoint: answers the line-based
// video replies from a JSON catalogue and serves the streams and thumbnails they name.
#include "Catalogue.h"
#include "DefaultCatalogue.h"
#include "Replies.h"

#include <httplib.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr int kDefaultPort = 8731;
constexpr long kHighestPort = 65535;
const char* const kDefaultBind = "127.0.0.1";
const char* const kDefaultVersion = "2.0";
const char* const kTextType = "text/plain; charset=utf-8";
constexpr int kStatusNotFound = 404;
constexpr int kStatusRangeNotSatisfiable = 416;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr std::size_t kReadBlockBytes = 64 * 1024;
// A throttled stream is sent in blocks of a tenth of a second's worth, so its rate is even
// and a stopped client is noticed quickly.
constexpr std::uintmax_t kThrottleSlicesPerSecond = 10;
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
};

void Usage(std::ostream& out)
{
    out << "usage: norvik-service [--port N] [--bind ADDRESS] [--catalogue FILE] "
           "[--version TEXT]\n"
           "                      [--media-rate BYTES]\n"
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
           "  --help              this text\n"
           "Prints \"listening on http://ADDRESS:PORT\" once it accepts requests, and logs one\n"
           "line per request to the standard error: method, target, status, bytes.\n";
}

bool ParseByteRate(const std::string& text, std::uintmax_t& rate)
{
    constexpr std::size_t kMostDigits = 12;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > kMostDigits)
        return false;
    rate = std::stoull(text);
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
        if (arg != "--port" && arg != "--bind" && arg != "--catalogue" && arg != "--version" &&
            arg != "--media-rate")
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
        if (arg == "--media-rate" && !ParseByteRate(value, options.mediaRate))
        {
            error = "--media-rate \"" + value + "\" is not a number of bytes";
            return false;
        }
        if (arg == "--bind")
            options.bind = value;
        else if (arg == "--catalogue")
            options.catalogue = value;
        else if (arg == "--version")
            options.version = value;
    }
    return true;
}

// cpp-httplib parses Range into the request before any handler runs and later cuts every
// reply by it, without checking it against a streamed body's length. The request object is
// the server's own mutable one, handed out as const only by the handler's signature.
httplib::Ranges& RangesOf(const httplib::Request& req)
{
    return const_cast<httplib::Request&>(req).ranges;
}

// Text replies are never partial: a Range on them is ignored, as HTTP allows.
void IgnoreRanges(const httplib::Request& req)
{
    RangesOf(req).clear();
}

enum class RangeFit
{
    Whole,
    Part,
    Outside
};

// Turns a single range into explicit first and last offsets within the file. Several ranges
// at once are answered with the whole file, which HTTP allows and our client never asks for.
RangeFit FitRange(const httplib::Request& req, std::uintmax_t size)
{
    constexpr ssize_t kOpen = -1;
    httplib::Ranges& ranges = RangesOf(req);
    if (ranges.size() != 1)
    {
        ranges.clear();
        return RangeFit::Whole;
    }
    auto [first, last] = ranges.front();
    const auto fileSize = ssize_t(size);
    if (first == kOpen && last == kOpen)
    {
        ranges.clear();
        return RangeFit::Whole;
    }
    if (first == kOpen)
    {
        // "bytes=-N": the last N bytes.
        if (last == 0 || fileSize == 0)
            return RangeFit::Outside;
        first = std::max<ssize_t>(0, fileSize - last);
        last = fileSize - 1;
    }
    else
    {
        if (first >= fileSize)
            return RangeFit::Outside;
        if (last != kOpen && last < first)
        {
            ranges.clear();
            return RangeFit::Whole;
        }
        if (last == kOpen || last >= fileSize)
            last = fileSize - 1;
    }
    ranges.front() = {first, last};
    return RangeFit::Part;
}

void NotFound(const httplib::Request& req, httplib::Response& res)
{
    IgnoreRanges(req);
    res.status = kStatusNotFound;
    res.set_content("not found\n", kTextType);
}

// Holds a body back to a steady number of bytes a second, measured from its first block.
class Throttle
{
public:
    explicit Throttle(std::uintmax_t bytesPerSecond) : rate(bytesPerSecond) {}

    // How much of a block may go at once; everything when there is no limit.
    std::size_t Slice(std::size_t wanted) const
    {
        if (rate == 0)
            return wanted;
        return std::size_t(std::clamp<std::uintmax_t>(rate / kThrottleSlicesPerSecond, 1, wanted));
    }

    // Waits until count more bytes are due.
    void Before(std::size_t count)
    {
        if (rate == 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (sent == 0)
            start = now;
        sent += count;
        const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(double(sent) / double(rate)));
        if (due > now)
            std::this_thread::sleep_for(due - now);
    }

private:
    std::uintmax_t rate;
    std::uintmax_t sent = 0;
    std::chrono::steady_clock::time_point start;
};

// Streams a file with its length known up front: the program's own HTTP/1.0 client decodes
// no chunked bodies, and a provider with a length lets the server cut byte ranges itself.
void ServeFile(const Catalogue::File* file, const httplib::Request& req, httplib::Response& res,
               std::uintmax_t rate = 0)
{
    auto in = file ? std::make_shared<std::ifstream>(file->path, std::ios::binary) : nullptr;
    if (!in || !*in)
        return NotFound(req, res);
    if (FitRange(req, file->size) == RangeFit::Outside)
    {
        IgnoreRanges(req);
        res.status = kStatusRangeNotSatisfiable;
        res.set_header("Content-Range", "bytes */" + std::to_string(file->size));
        return;
    }
    res.set_header("Accept-Ranges", "bytes");
    auto throttle = std::make_shared<Throttle>(rate);
    res.set_content_provider(
        std::size_t(file->size), ContentTypeOf(file->path),
        [in, throttle](std::size_t offset, std::size_t length, httplib::DataSink& sink)
        {
            std::vector<char> block(throttle->Slice(std::min(length, kReadBlockBytes)));
            in->clear();
            in->seekg(std::streamoff(offset));
            in->read(block.data(), std::streamsize(block.size()));
            const std::streamsize got = in->gcount();
            // A file that shrank since the catalogue was read ends the
            // connection early rather than padding the body with bytes that
            // are not the file's.
            if (got <= 0)
                return false;
            throttle->Before(std::size_t(got));
            return sink.write(block.data(), std::size_t(got));
        });
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
    Catalogue catalogue;
    if (!catalogue.Load(options.catalogue, error))
    {
        std::cerr << "norvik-service: " << error << "\n";
        return kExitFailure;
    }

    // Blocked before any thread starts, so every thread inherits the mask and only the
    // waiting thread ever takes these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    // cpp-httplib's default sets SO_REUSEPORT, which lets a second service share a busy port
    // and take half its requests; SO_REUSEADDR alone still allows a quick restart.
    server.set_socket_options(
        [](socket_t sock)
        {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
    int port = options.port;
    const std::string bind = options.bind;

    server.Get(R"(/api/?)",
               [&](const httplib::Request& req, httplib::Response& res)
               {
                   IgnoreRanges(req);
                   const Catalogue::Video* video = catalogue.Find(req.get_param_value("videoid"));
                   const std::string base = BaseUrl(req.get_header_value("Host"), bind, port);
                   res.set_content(video ? VideoReply(*video, base) : FailReply(), kTextType);
               });
    server.Get("/hub.php",
               [&](const httplib::Request& req, httplib::Response& res)
               {
                   if (req.get_param_value("s") != "curver")
                       return NotFound(req, res);
                   IgnoreRanges(req);
                   res.set_content(VersionReply(options.version), kTextType);
               });
    server.Get(R"(/media/(.+))", [&](const httplib::Request& req, httplib::Response& res)
               { ServeFile(catalogue.StreamFile(req.matches[1]), req, res, options.mediaRate); });
    server.Get(R"(/thumbs/(.+))", [&](const httplib::Request& req, httplib::Response& res)
               { ServeFile(catalogue.ThumbnailFile(req.matches[1]), req, res); });
    server.set_logger(
        [](const httplib::Request& req, const httplib::Response& res)
        {
            // A streamed body is not held in res.body; its header tells what was sent.
            const std::string length = res.get_header_value("Content-Length");
            const std::string line =
                req.method + " " + req.target + " " + std::to_string(res.status) + " " +
                (length.empty() ? std::to_string(res.body.size()) : length) + "\n";
            // Requests are served on several threads: each line goes out whole.
            static std::mutex logLock;
            const std::lock_guard<std::mutex> hold(logLock);
            std::cerr << line << std::flush;
        });

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
    StopOnSignals(server, stopSignals);
    std::cout << "listening on " << BaseUrl("", bind, port) << std::endl;
    return server.listen_after_bind() ? 0 : kExitFailure;
}
