#include "HeadGate.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace
{
using Clock = std::chrono::steady_clock;
const char* const kHeadEnd = "\r\n\r\n";
constexpr std::size_t kReadBlockBytes = 4096;
} // namespace

HeadGate::Result HeadGate::Read(int socket, std::string& bytes)
{
    Enter(socket);
    const auto deadline = Clock::now() + limits.deadline;
    Result result = Result::TimedOut;
    char block[kReadBlockBytes];
    for (;;)
    {
        const auto end = bytes.find(kHeadEnd);
        const std::size_t headBytes = end == std::string::npos ? bytes.size() : end;
        // The request line is not a header: one line more than the headers.
        const auto lines = std::size_t(std::count(bytes.begin(), bytes.begin() + headBytes, '\n'));
        if (headBytes > limits.mostBytes || lines > limits.mostHeaders)
        {
            result = Result::TooLarge;
            break;
        }
        if (end != std::string::npos)
        {
            result = Result::Complete;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd ready{socket, POLLIN, 0};
        const int polled = poll(&ready, 1, int(left.count()));
        if (polled < 0 && errno != EINTR)
        {
            result = Result::Closed;
            break;
        }
        if (polled <= 0)
            continue;
        const ssize_t got = recv(socket, block, sizeof block, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            result = Result::Closed;
            break;
        }
        bytes.append(block, std::size_t(got));
    }
    Leave(socket);
    return result;
}

void HeadGate::Enter(int socket)
{
    const std::lock_guard<std::mutex> hold(lock);
    if (waiting.size() >= limits.mostWaiting && !waiting.empty())
    {
        // Its reader wakes with the end of the connection and closes it itself.
        shutdown(waiting.front(), SHUT_RDWR);
        waiting.pop_front();
    }
    waiting.push_back(socket);
}

void HeadGate::Leave(int socket)
{
    const std::lock_guard<std::mutex> hold(lock);
    const auto it = std::find(waiting.begin(), waiting.end(), socket);
    if (it != waiting.end())
        waiting.erase(it);
}
