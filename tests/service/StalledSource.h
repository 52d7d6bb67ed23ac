#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// A source that sends the head and the first bytes of a large file and then nothing, and
// notes when its client, the service, closes the connection.
class StalledSource
{
public:
    static constexpr std::size_t kFirstBytes = 64 * 1024;
    static constexpr std::size_t kClaimedBytes = 100000000;

    StalledSource()
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener, 8) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
        thread = std::thread([this] { Serve(); });
    }
    ~StalledSource()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        close(listener);
    }
    StalledSource(const StalledSource&) = delete;
    StalledSource& operator=(const StalledSource&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/media"; }
    int Accepted() const { return accepted.load(); }
    // When the last connection was closed by the service; empty while none was.
    std::optional<std::chrono::steady_clock::time_point> Closed() const
    {
        const std::lock_guard<std::mutex> hold(lock);
        return closed;
    }

private:
    // One connection at a time, each held until the service lets go of it or the test ends.
    void Serve()
    {
        while (!stop)
        {
            pollfd waiting{listener, POLLIN, 0};
            if (poll(&waiting, 1, kStepMs) <= 0)
                continue;
            const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++accepted;
            const std::string head =
                "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-" +
                std::to_string(kClaimedBytes - 1) + "/" + std::to_string(kClaimedBytes) +
                "\r\nContent-Length: " + std::to_string(kClaimedBytes) + "\r\n\r\n";
            const std::string reply = head + std::string(kFirstBytes, 'x');
            send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            char block[4096];
            while (!stop)
            {
                pollfd readable{client, POLLIN, 0};
                if (poll(&readable, 1, kStepMs) <= 0)
                    continue;
                if (recv(client, block, sizeof block, 0) <= 0)
                {
                    const std::lock_guard<std::mutex> hold(lock);
                    closed = std::chrono::steady_clock::now();
                    break;
                }
            }
            close(client);
        }
    }

    static constexpr int kStepMs = 20;
    int listener = -1;
    int port = 0;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    mutable std::mutex lock;
    std::optional<std::chrono::steady_clock::time_point> closed;
};
