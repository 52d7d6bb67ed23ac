#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

// An HTTP server of the test's own on a free loopback port, run on its own thread and
// stopped when the object goes.
class TestHttpServer
{
public:
    TestHttpServer() = default;
    ~TestHttpServer() { Stop(); }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    httplib::Server& Routes() { return server; }

    // What a stalled stream announces: the whole it will never send.
    static constexpr size_t kStalledStreamSize = 1000000;
    static constexpr auto kStalledPoll = std::chrono::milliseconds(20);

    // A route that sends firstBytes and then nothing more until Stop, so a download of it
    // stays in its transfer for as long as the test needs.
    void AddStalledStream(const std::string& path, const std::string& type,
                          const std::string& firstBytes)
    {
        server.Get(path,
                   [this, type, firstBytes](const httplib::Request&, httplib::Response& res)
                   {
                       res.set_content_provider(
                           kStalledStreamSize, type,
                           [this, firstBytes](size_t offset, size_t, httplib::DataSink& sink)
                           {
                               if (offset == 0)
                                   return sink.write(firstBytes.data(), firstBytes.size());
                               while (!Stopping())
                                   std::this_thread::sleep_for(kStalledPoll);
                               return false;
                           });
                   });
    }

    // Starts listening; false when no port could be bound or it did not come up in time.
    bool Start()
    {
        constexpr auto kStartLimit = std::chrono::seconds(5);
        port = server.bind_to_any_port("127.0.0.1");
        if (port <= 0)
            return false;
        thread = std::thread([this] { server.listen_after_bind(); });
        const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
        while (!server.is_running())
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // The server waits for the responses being sent, so routes that wait are let go first.
    void Stop()
    {
        stopping.store(true);
        if (thread.joinable())
        {
            server.stop();
            thread.join();
        }
    }

    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    int Port() const { return port; }

    // True once Stop has begun: a route that waits for the test gives up then.
    bool Stopping() const { return stopping.load(); }

private:
    httplib::Server server;
    std::thread thread;
    int port = 0;
    // Set by the test's thread in Stop, read by the server's threads in routes that wait.
    std::atomic<bool> stopping{false};
};
