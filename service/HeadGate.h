#pragma once

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>

// Reads the head of a request (its request line and headers) before the HTTP library sees
// it, within limits the library does not have: a whole-head size, a number of headers and
// one deadline for all of it (the library waits its read timeout per read, so a client that
// sends a byte every few seconds held a connection for ever). Connections still waiting for
// their head are capped too: when one more arrives at the cap, the one that has waited
// longest is cut, so slow clients can never crowd out a request that arrives whole.
class HeadGate
{
public:
    struct Limits
    {
        std::size_t mostBytes = 0;
        std::size_t mostHeaders = 0;
        std::chrono::milliseconds deadline{0};
        std::size_t mostWaiting = 0;
    };

    enum class Result
    {
        Complete,
        TooLarge, // past mostBytes, or past mostHeaders
        TimedOut, // not whole by the deadline
        Closed,   // the client went away, or made room for a newer connection
    };

    explicit HeadGate(Limits given) : limits(given) {}

    // Reads from the socket until the head is whole; bytes, the head and whatever followed it
    // in the same reads.
    Result Read(int socket, std::string& bytes);

private:
    void Enter(int socket);
    void Leave(int socket);

    const Limits limits;
    // Guards waiting; a socket leaves it before its owner closes it, so a cut never reaches a
    // descriptor number that was reused.
    std::mutex lock;
    std::list<int> waiting; // oldest first
};
