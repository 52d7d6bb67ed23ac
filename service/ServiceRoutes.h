#pragma once

#include "Catalogue.h"
#include "DirectRelay.h"
#include "Resolver.h"

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <regex>
#include <string>
#include <vector>

// The service's HTTP side: which request reaches which answer. Catalogue ids and files are
// answered from the catalogue; other ids go to the resolver, whose streams are relayed.
class ServiceRoutes
{
public:
    struct Settings
    {
        std::string bind;
        int port = 0; // the port clients reach when they send no Host
        std::string version;
        // Bytes per second for each catalogue stream; 0 sends them as fast as possible.
        std::uintmax_t mediaRate = 0;
        // How long a stream may take to its first byte: as long as a lookup unless told.
        std::chrono::seconds firstByteLimit = Resolver::Settings().timeout;
        // The first part of every path; empty serves at the root.
        std::string secret;
    };

    ServiceRoutes(const Catalogue& videos, Resolver& lookups, Settings given);

    // Registers every route, the check of the secret and the Host, the request log and the
    // handling of unreadable ranges.
    void Install(httplib::Server& server);
    // The port is known only once the server has bound it.
    void SetPort(int port) { settings.port = port; }

private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    struct Route
    {
        Route(const std::string& expression, Handler onRequest)
            : text(expression), pattern(expression), handler(std::move(onRequest))
        {
        }
        std::string text;
        std::regex pattern;
        Handler handler;
    };

    // False with the refusal in res for a request to another host or without the secret;
    // otherwise takes the secret off the request's path, so the routes see their own paths.
    bool Admit(const httplib::Request& req, httplib::Response& res) const;
    bool IsOwnHost(const std::string& host) const;
    // Where the client reached the service, the secret included.
    std::string Base(const httplib::Request& req) const;
    void LogRequest(const httplib::Request& req, const httplib::Response& res) const;
    void Lookup(const httplib::Request& req, httplib::Response& res);
    void Stream(const httplib::Request& req, httplib::Response& res);
    // A single file fetched by the service itself, with its length and ranges; an address
    // the source refuses is looked up once more.
    void DirectStream(const std::string& id, const std::string& itag,
                      std::shared_ptr<const Resolver::Entry> entry, const DirectRelay::Asked& asked,
                      httplib::Response& res);
    // Any other format, relayed from what the resolver's programs write. base: the service's
    // own address as the client reached it, where an MP3's converter reads a sound that the
    // service relays itself.
    void PipedStream(const std::string& id, const ResolvedFormat& format,
                     const std::shared_ptr<const Resolver::Entry>& entry, const std::string& base,
                     httplib::Response& res);
    std::chrono::steady_clock::time_point FirstByteDeadline() const;
    // Whether the service fetches the format itself.
    static bool IsDirect(const ResolvedFormat& format, const Resolver::Entry& entry);
    void Picture(const httplib::Request& req, httplib::Response& res);
    // Answers a request whose Range the server refused to read as if it had none.
    bool AnswerWithoutRange(const httplib::Request& req, httplib::Response& res);

    const Catalogue& catalogue;
    Resolver& resolver;
    Settings settings;
    std::vector<Route> routes;
};
