#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

// Bounds how many runs of the resolver program go on at once, lookups and piped streams
// together: each one takes a turn before it starts and gives it back when its programs are
// gone. A local program that asks for hundreds of ids at once then gets waits and refusals,
// never hundreds of processes. Turns are handed out in the order they were asked for.
class ResolverGate
{
public:
    using Clock = std::chrono::steady_clock;

    // Held while a run goes on; its end frees the turn for the next in line.
    class Turn
    {
    public:
        explicit Turn(ResolverGate& owner) : gate(owner) {}
        ~Turn() { gate.GiveBack(); }
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        ResolverGate& gate;
    };

    explicit ResolverGate(std::size_t most) : limit(most) {}

    // A turn as soon as one is free and every earlier asker has had theirs; null when none
    // came by the deadline.
    std::unique_ptr<Turn> Take(Clock::time_point deadline);
    std::size_t Limit() const { return limit; }

private:
    void GiveBack();

    const std::size_t limit;
    // Guards taken and waiting; changed is told of every turn given back and every asker
    // that gave up, since either may let the next in line go.
    std::mutex lock;
    std::condition_variable changed;
    std::size_t taken = 0;
    std::list<unsigned long> waiting; // tickets, oldest first
    unsigned long nextTicket = 0;
};
