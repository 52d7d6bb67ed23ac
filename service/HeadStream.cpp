#include "HeadStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
bool WaitFor(int socket, short events, std::chrono::milliseconds limit)
{
    pollfd ready{socket, events, 0};
    int polled;
    do
        polled = poll(&ready, 1, int(limit.count()));
    while (polled < 0 && errno == EINTR);
    return polled > 0 && (ready.revents & events) != 0;
}

void Describe(const sockaddr_storage& address, std::string& ip, int& port)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET)
    {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    }
    else if (address.ss_family == AF_INET6)
    {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}
} // namespace

HeadStream::HeadStream(int socket, std::string received, std::chrono::milliseconds readTimeout,
                       std::chrono::milliseconds writeTimeout)
    : sock(socket), head(std::move(received)), readLimit(readTimeout), writeLimit(writeTimeout)
{
}

bool HeadStream::is_readable() const
{
    return headRead < head.size() || WaitFor(sock, POLLIN, readLimit);
}

bool HeadStream::is_writable() const
{
    if (!WaitFor(sock, POLLOUT, writeLimit))
        return false;
    // Writable, but a client that has closed its end is gone all the same (a stream would
    // otherwise run on until its first failed write).
    char probe;
    pollfd ready{sock, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0)
        return true;
    return recv(sock, &probe, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

ssize_t HeadStream::read(char* ptr, size_t size)
{
    if (headRead < head.size())
    {
        const std::size_t count = std::min(size, head.size() - headRead);
        std::memcpy(ptr, head.data() + headRead, count);
        headRead += count;
        return ssize_t(count);
    }
    if (!WaitFor(sock, POLLIN, readLimit))
        return -1;
    ssize_t got;
    do
        got = recv(sock, ptr, size, 0);
    while (got < 0 && errno == EINTR);
    return got;
}

ssize_t HeadStream::write(const char* ptr, size_t size)
{
    if (!WaitFor(sock, POLLOUT, writeLimit))
        return -1;
    ssize_t sent;
    do
        sent = send(sock, ptr, size, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent;
}

void HeadStream::get_remote_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        Describe(address, ip, port);
}

void HeadStream::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        Describe(address, ip, port);
}
