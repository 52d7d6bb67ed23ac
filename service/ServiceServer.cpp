#include "ServiceServer.h"

#include "ConnectionThreads.h"
#include "HeadStream.h"
#include "ServiceLog.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace
{
const char* const kHeadTooLarge = "HTTP/1.1 431 Request Header Fields Too Large\r\n"
                                  "Content-Length: 0\r\nConnection: close\r\n\r\n";
const char* const kHeadTimedOut = "HTTP/1.1 408 Request Timeout\r\n"
                                  "Content-Length: 0\r\nConnection: close\r\n\r\n";
const char* const kTooManyConnections = "HTTP/1.1 503 Service Unavailable\r\n"
                                        "Content-Length: 0\r\nConnection: close\r\n\r\n";

// How long a refused client's unread bytes are taken and dropped: closing a socket with
// bytes unread resets the connection, and the reset can overtake the refusal.
constexpr int kDrainMs = 200;
constexpr std::size_t kMostDrainedBytes = std::size_t{1024} * 1024;

// A refusal is a courtesy: a client that does not read it loses nothing it was owed.
void Refuse(socket_t sock, const char* reply)
{
    send(sock, reply, std::strlen(reply), MSG_NOSIGNAL | MSG_DONTWAIT);
    shutdown(sock, SHUT_WR);
    char block[4096];
    std::size_t drained = 0;
    pollfd ready{sock, POLLIN, 0};
    while (drained < kMostDrainedBytes && poll(&ready, 1, kDrainMs) > 0)
    {
        const ssize_t got = recv(sock, block, sizeof block, 0);
        if (got <= 0)
            break;
        drained += std::size_t(got);
    }
}
} // namespace

bool ServiceServer::process_and_close_socket(socket_t sock)
{
    bool served = false;
    std::string head;
    if (!ConnectionThreads::Admitted())
    {
        LogLine("connection refused: every connection is in use");
        Refuse(sock, kTooManyConnections);
    }
    else
        switch (gate.Read(sock, head))
        {
        case HeadGate::Result::Complete:
        {
            HeadStream stream(sock, std::move(head), limits.readLimit, limits.writeLimit);
            bool closed = false;
            served = process_request(stream, true, closed, nullptr);
            break;
        }
        case HeadGate::Result::TooLarge:
            LogLine("request refused: its head passed " + std::to_string(limits.head.mostBytes) +
                    " bytes or " + std::to_string(limits.head.mostHeaders) + " headers");
            Refuse(sock, kHeadTooLarge);
            break;
        case HeadGate::Result::TimedOut:
            LogLine("request refused: its head took longer than " +
                    std::to_string(limits.head.deadline.count()) + " ms");
            Refuse(sock, kHeadTimedOut);
            break;
        case HeadGate::Result::Closed:
            break;
        }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
}
