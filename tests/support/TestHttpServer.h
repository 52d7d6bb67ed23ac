#pragma once

#include <httplib.h>

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

    void Stop()
    {
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

private:
    httplib::Server server;
    std::thread thread;
    int port = 0;
};
