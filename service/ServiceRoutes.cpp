#include "ServiceRoutes.h"

#include "ByteRange.h"
#include "PageAddress.h"
#include "Replies.h"
#include "ServiceLog.h"
#include "ServiceSecret.h"
#include "StreamRelay.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <thread>

namespace
{
const char* const kTextType = "text/plain; charset=utf-8";
constexpr int kStatusOk = 200;
constexpr int kStatusNotFound = 404;
// A request meant for another host name (a page that rebound its name to loopback).
constexpr int kStatusMisdirected = 421;
constexpr int kStatusRangeNotSatisfiable = 416;
constexpr int kStatusBadGateway = 502;
constexpr std::size_t kReadBlockBytes = std::size_t{64} * 1024;
// A throttled stream is sent in blocks of a tenth of a second's worth, so its rate is even
// and a stopped client is noticed quickly.
constexpr std::uintmax_t kThrottleSlicesPerSecond = 10;

// cpp-httplib parses Range into the request before any handler runs and later cuts every
// reply by it, without checking it against a streamed body's length. The request object is
// the server's own mutable one, handed out as const only by the handler's signature.
httplib::Request& Mutable(const httplib::Request& req)
{
    return const_cast<httplib::Request&>(req);
}

// Text replies are never partial: a Range on them is ignored, as HTTP allows.
void IgnoreRanges(const httplib::Request& req)
{
    Mutable(req).ranges.clear();
}

// Applies the single range the file can serve to the request, from which the server cuts its
// reply; anything else leaves the whole file to be sent.
ByteRange::Kind FitRange(const httplib::Request& req, std::uintmax_t size)
{
    httplib::Ranges& ranges = Mutable(req).ranges;
    std::vector<RequestedRange> asked;
    for (const auto& [first, last] : ranges)
        asked.push_back({first, last});
    const ByteRange fit = FitByteRange(asked, size);
    if (fit.kind == ByteRange::Kind::Part)
        ranges = {{ssize_t(fit.first), ssize_t(fit.last)}};
    else
        ranges.clear();
    return fit.kind;
}

void NotFound(const httplib::Request& req, httplib::Response& res)
{
    IgnoreRanges(req);
    res.status = kStatusNotFound;
    res.set_content("not found\n", kTextType);
}

// A stream the resolver could not start: the client is told so, the log says why.
void StreamFailed(const std::string& stream, const std::string& error, httplib::Response& res)
{
    LogLine("stream " + stream + " failed: " + error);
    res.status = kStatusBadGateway;
    res.set_content("the resolver failed\n", kTextType);
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
    if (FitRange(req, file->size) == ByteRange::Kind::Unsatisfiable)
    {
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

// Where the picture of a resolved video is served, below the service's address.
std::string ThumbnailPath(const std::string& id)
{
    return "/picture/" + id;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}
} // namespace

ServiceRoutes::ServiceRoutes(const Catalogue& videos, Resolver& lookups, Settings given)
    : catalogue(videos), resolver(lookups), settings(std::move(given))
{
    routes = {
        {R"(/api/?)",
         [this](const httplib::Request& req, httplib::Response& res) { Lookup(req, res); }},
        {"/hub.php",
         [this](const httplib::Request& req, httplib::Response& res)
         {
             if (req.get_param_value("s") != "curver")
                 return NotFound(req, res);
             IgnoreRanges(req);
             res.set_content(VersionReply(this->settings.version), kTextType);
         }},
        {R"(/media/(.+))",
         [this](const httplib::Request& req, httplib::Response& res) {
             ServeFile(this->catalogue.StreamFile(req.matches[1]), req, res,
                       this->settings.mediaRate);
         }},
        {R"(/thumbs/(.+))", [this](const httplib::Request& req, httplib::Response& res)
         { ServeFile(this->catalogue.ThumbnailFile(req.matches[1]), req, res); }},
        {R"(/stream/([^/]+)/([^/]+))",
         [this](const httplib::Request& req, httplib::Response& res) { Stream(req, res); }},
        {R"(/picture/([^/]+))",
         [this](const httplib::Request& req, httplib::Response& res) { Picture(req, res); }},
    };
}

void ServiceRoutes::Install(httplib::Server& server)
{
    for (const Route& route : routes)
        server.Get(route.text, route.handler);
    const httplib::Server::HandlerWithResponse rangeRefused =
        [this](const httplib::Request& req, httplib::Response& res)
    {
        return AnswerWithoutRange(req, res) ? httplib::Server::HandlerResponse::Handled
                                            : httplib::Server::HandlerResponse::Unhandled;
    };
    server.set_error_handler(rangeRefused);
    server.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res)
        {
            return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                   : httplib::Server::HandlerResponse::Handled;
        });
    server.set_logger([this](const httplib::Request& req, const httplib::Response& res)
                      { LogRequest(req, res); });
}

bool ServiceRoutes::IsOwnHost(const std::string& host) const
{
    const std::string port = ":" + std::to_string(settings.port);
    const bool ipv6 = settings.bind.find(':') != std::string::npos;
    const std::string bound = ipv6 ? "[" + settings.bind + "]" : settings.bind;
    const std::string asked = Lower(host);
    for (const std::string& own :
         {std::string("127.0.0.1"), std::string("localhost"), std::string("[::1]"), Lower(bound)})
        if (asked == own + port)
            return true;
    return false;
}

bool ServiceRoutes::Admit(const httplib::Request& req, httplib::Response& res) const
{
    // A client without a Host (HTTP/1.0) names no other host; browsers always send one.
    if (req.has_header("Host") && !IsOwnHost(req.get_header_value("Host")))
    {
        IgnoreRanges(req);
        res.status = kStatusMisdirected;
        res.set_content("misdirected request\n", kTextType);
        return false;
    }
    const std::string& secret = settings.secret;
    if (secret.empty())
        return true;
    // "/SECRET/…": the same answer for a wrong secret as for any unknown path.
    const std::string& path = req.path;
    const std::size_t end = secret.size() + 1;
    if (path.size() <= end || path[0] != '/' || path[end] != '/' ||
        !ServiceSecret::Matches(secret, path.substr(1, secret.size())))
    {
        NotFound(req, res);
        return false;
    }
    Mutable(req).path = path.substr(end);
    return true;
}

std::string ServiceRoutes::Base(const httplib::Request& req) const
{
    const std::string base = BaseUrl(req.get_header_value("Host"), settings.bind, settings.port);
    return settings.secret.empty() ? base : base + "/" + settings.secret;
}

void ServiceRoutes::LogRequest(const httplib::Request& req, const httplib::Response& res) const
{
    // A streamed body is not held in res.body; its header tells what was sent.
    const std::string length = res.get_header_value("Content-Length");
    const std::string bytes = !length.empty() ? length
                              : res.get_header_value("Transfer-Encoding") == "chunked"
                                  ? "chunked"
                                  : std::to_string(res.body.size());
    // The log may end up in a report: the secret stays out of it.
    std::string target = req.target;
    const std::string prefix = "/" + settings.secret + "/";
    if (!settings.secret.empty() && target.rfind(prefix, 0) == 0)
        target = "/SECRET/" + target.substr(prefix.size());
    LogLine(req.method + " " + target + " " + std::to_string(res.status) + " " + bytes);
}

bool ServiceRoutes::AnswerWithoutRange(const httplib::Request& req, httplib::Response& res)
{
    // cpp-httplib answers a Range it cannot read with 416 before any route runs; HTTP says
    // such a header is ignored. The routes' own 416 names the size in Content-Range.
    if (res.status != kStatusRangeNotSatisfiable || res.has_header("Content-Range") ||
        !req.has_header("Range") || req.method != "GET")
        return false;
    httplib::Request& request = Mutable(req);
    request.headers.erase("Range");
    request.ranges.clear();
    // The server answered before its routing, and so before the secret was checked.
    res.status = kStatusOk;
    if (!Admit(req, res))
        return true;
    for (const Route& route : routes)
        if (std::regex_match(request.path, request.matches, route.pattern))
        {
            res.status = kStatusOk;
            route.handler(req, res);
            return true;
        }
    NotFound(req, res);
    return true;
}

void ServiceRoutes::Lookup(const httplib::Request& req, httplib::Response& res)
{
    IgnoreRanges(req);
    const std::string base = Base(req);
    // A page of any site, named by the id the service gives its address.
    const bool byAddress = req.has_param("url");
    const std::string address = req.get_param_value("url");
    const std::string id = byAddress ? PageAddress::IdOf(address) : req.get_param_value("videoid");
    if (const Catalogue::Video* video = byAddress ? nullptr : catalogue.Find(id))
        return res.set_content(VideoReply(*video, base), kTextType);
    Resolver::Failure failure;
    const auto entry =
        byAddress ? resolver.LookupAddress(address, failure) : resolver.Lookup(id, failure);
    if (!entry)
    {
        // The address itself stays out of the log: it may carry a token of its site.
        if (resolver.Enabled())
            LogLine("lookup \"" + id + "\" failed: " + failure.log);
        return res.set_content(FailReply(failure.reply), kTextType);
    }
    std::vector<ReplyRecord> records;
    const std::string streamBase = base + "/stream/" + id + "/";
    for (const ResolvedFormat& f : entry->video.formats)
        records.push_back({f.itag, streamBase + EncodePath(f.itag), f.type, f.quality, f.size});
    // Norvik's client speaks neither HTTPS nor redirects nor WebP: it gets the picture from
    // here, and none when it could not be fetched.
    const std::string picture =
        entry->picture.bytes.empty() ? std::string() : base + ThumbnailPath(id);
    res.set_content(VideoReply(id, entry->video.title, picture, records), kTextType);
}

void ServiceRoutes::Picture(const httplib::Request& req, httplib::Response& res)
{
    IgnoreRanges(req);
    // Only a lookup still cached has a picture; asking for one never starts the resolver.
    const std::string id = req.matches[1];
    const auto entry =
        IsValidVideoId(id) || PageAddress::IsId(id) ? resolver.FromCache(id) : nullptr;
    if (!entry || entry->picture.bytes.empty())
        return NotFound(req, res);
    // With its length, never chunked: Norvik's client speaks HTTP/1.0.
    res.set_content(entry->picture.bytes, entry->picture.type);
}

void ServiceRoutes::Stream(const httplib::Request& req, httplib::Response& res)
{
    // A relayed stream has no length before it ends: it cannot be cut into ranges.
    IgnoreRanges(req);
    const std::string id = req.matches[1];
    const std::string itag = req.matches[2];
    // Catalogue videos are served from their files, never through the resolver.
    if (!resolver.Enabled() || !(IsValidVideoId(id) || PageAddress::IsId(id)) ||
        !IsValidFormatId(itag) || catalogue.Find(id))
        return NotFound(req, res);
    Resolver::Failure failure;
    const auto entry = resolver.Lookup(id, failure);
    if (!entry)
        return StreamFailed(id + "/" + itag, failure.log, res);
    std::string error;
    const ResolvedFormat* format = entry->Format(itag);
    if (!format)
        return NotFound(req, res);
    auto relay = std::make_shared<StreamRelay>(id + "/" + itag);
    auto workFolder = resolver.NewRunFolder(error);
    if (!workFolder || !relay->Begin(resolver.StreamCommands(*entry, *format),
                                     std::move(workFolder), settings.firstByteLimit, error))
        return StreamFailed(id + "/" + itag, error, res);
    // The provider keeps the relay, and with it the lookup's description file, until the
    // response is gone; the relay's end ends its programs.
    res.set_chunked_content_provider(format->type,
                                     [relay, entry](std::size_t, httplib::DataSink& sink)
                                     { return relay->Next(sink); });
}
