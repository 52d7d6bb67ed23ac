#pragma once

// Single-file formats that the service fetches itself: the stand-in resolver describes formats
// on a media server of the test's own on loopback, with a header of their own, and the tests
// read what that server was asked and what the client got.
#include "ServiceHarness.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

const std::string kFake = NORVIK_FAKE_RESOLVER;
const std::string kId = "DirectVid01";
// Three ranges' worth, the last one short.
constexpr std::size_t kMediaBytes = std::size_t{25} * 1024 * 1024 + 12345;
constexpr std::uint64_t kMostRangeBytes = std::uint64_t{10} * 1024 * 1024;
constexpr std::size_t kCutAfterBytes = 300000;
constexpr auto kClientLimit = std::chrono::seconds(30);
const std::string kHeaderValue = "from-the-description";

inline std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    // 251 does not divide a range's length: bytes in the wrong place show.
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

inline const std::string& Media()
{
    static const std::string media = Pattern(kMediaBytes);
    return media;
}

// "bytes=FIRST-LAST" or "bytes=FIRST-", as the service asks; {-1, -1} for anything else.
inline std::pair<long long, long long> RangeOf(const std::string& header)
{
    long long first = -1;
    long long last = -1;
    if (std::sscanf(header.c_str(), "bytes=%lld-%lld", &first, &last) < 1)
        return {-1, -1};
    return {first, last};
}

// What the media server was asked.
struct Asked
{
    std::string path;
    std::string host;
    std::string range;
    std::string header; // X-Norvik-Test
    std::string encoding;
    std::string cookie;
};

class DirectRelayTest : public testing::Test
{
protected:
    void SetUp() override
    {
        server.Routes().Get("/media/(.*)", [this](const httplib::Request& req,
                                                  httplib::Response& res) { Serve(req, res); });
        ASSERT_TRUE(server.Start());
    }

    // One format of the description, served from the media server's path.
    nlohmann::json Format(const std::string& id, const std::string& path, bool withSize = true)
    {
        nlohmann::json format = {{"format_id", id},
                                 {"ext", "mp4"},
                                 {"height", 360},
                                 {"protocol", "https"},
                                 {"url", server.Url("/media/" + path)},
                                 {"http_headers",
                                  {{"User-Agent", "Test agent"},
                                   {"X-Norvik-Test", kHeaderValue},
                                   {"Accept-Encoding", "gzip"}}}};
        if (withSize)
            format["filesize"] = kMediaBytes;
        return format;
    }

    bool StartWith(const std::vector<nlohmann::json>& formats,
                   const std::vector<std::string>& more = {})
    {
        folder.Write("formats.json", nlohmann::json(formats).dump());
        std::vector<std::string> args{"--resolver", kFake, "--watch-url",
                                      "fake:formats:" + folder.Path().string() + ":%s"};
        args.insert(args.end(), more.begin(), more.end());
        return service.Start(args);
    }

    std::string StreamUrl(const std::string& itag) const
    {
        return service.BaseUrl() + "/stream/" + kId + "/" + itag;
    }

    HttpReply Get(const std::string& itag, const std::vector<std::string>& headers = {})
    {
        return HttpGet(StreamUrl(itag), headers, kClientLimit);
    }

    std::vector<Asked> Requests()
    {
        const std::lock_guard<std::mutex> hold(lock);
        return requests;
    }

    void ForgetRequests()
    {
        const std::lock_guard<std::mutex> hold(lock);
        requests.clear();
    }

    // The resolver's runs of each kind, from the stand-in's record.
    int Runs(const std::string& what) const
    {
        std::ifstream in(folder.Path() / "runs");
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.rfind(what + " ", 0) == 0 ? 1 : 0;
        return count;
    }

    // plain: ranges honoured; whole: the whole file to every request; refused: 403;
    // refused-once: 403 to the first request, then plain; cut: the first answer stops after
    // kCutAfterBytes; moved: a redirect to plain on another host name of the same server.
    void Serve(const httplib::Request& req, httplib::Response& res)
    {
        // Answered here: the library would cut the range out of the answer again.
        const_cast<httplib::Request&>(req).ranges.clear();
        const std::string path = req.matches[1];
        int earlier = 0;
        {
            const std::lock_guard<std::mutex> hold(lock);
            for (const Asked& a : requests)
                earlier += a.path == path ? 1 : 0;
            requests.push_back({path, req.get_header_value("Host"), req.get_header_value("Range"),
                                req.get_header_value("X-Norvik-Test"),
                                req.get_header_value("Accept-Encoding"),
                                req.get_header_value("Cookie")});
        }
        if (path == "refused" || (path == "refused-once" && earlier == 0))
        {
            res.status = 403;
            return;
        }
        if (path == "moved")
            return res.set_redirect("http://localhost:" + std::to_string(server.Port()) +
                                    "/media/plain");
        const std::string& media = Media();
        auto [first, last] = RangeOf(req.get_header_value("Range"));
        if (path == "whole")
            first = -1;
        if (first >= 0)
        {
            if (std::size_t(first) >= media.size())
            {
                res.status = 416;
                res.set_header("Content-Range", "bytes */" + std::to_string(media.size()));
                return;
            }
            if (last < 0 || std::size_t(last) >= media.size())
                last = (long long)(media.size()) - 1;
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                                std::to_string(last) + "/" +
                                                std::to_string(media.size()));
        }
        else
            first = 0, last = (long long)(media.size()) - 1;
        const std::size_t length = std::size_t(last - first + 1);
        const bool cut = path == "cut" && earlier == 0;
        res.set_content_provider(length, "video/mp4",
                                 [cut, start = std::size_t(first)](
                                     std::size_t offset, std::size_t count, httplib::DataSink& sink)
                                 {
                                     if (cut && offset >= kCutAfterBytes)
                                         return false;
                                     const std::size_t step = cut ? kCutAfterBytes : count;
                                     return sink.write(Media().data() + start + offset,
                                                       std::min(step, count));
                                 });
    }

    TestHttpServer server;
    TempFolder folder;
    ServiceUnderTest service;
    // Guards requests, written by the server's threads.
    std::mutex lock;
    std::vector<Asked> requests;
};
