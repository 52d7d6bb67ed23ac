#include "LoopbackServer.h"

#include <chrono>

namespace
{
constexpr auto kStartLimit = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(5);
} // namespace

bool LoopbackServer::Start()
{
    port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return false;
    thread = std::thread([this] { server.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!server.is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
    return server.is_running();
}

LoopbackServer::~LoopbackServer()
{
    server.stop();
    if (thread.joinable())
        thread.join();
}
