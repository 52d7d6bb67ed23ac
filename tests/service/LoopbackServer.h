#pragma once

#include <httplib.h>

#include <string>
#include <thread>

// An HTTP server of the test's own on a free loopback port, running while the object lives.
// Add routes to Routes() before Start().
class LoopbackServer
{
public:
    LoopbackServer() = default;
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& Routes() { return server; }
    // True once it accepts connections, within a bounded wait.
    bool Start();
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port); }

private:
    httplib::Server server;
    std::thread thread;
    int port = 0;
};
