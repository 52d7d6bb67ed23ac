#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

// Serves each connection on a thread of its own, up to a generous limit. A fixed pool is
// starved by connections that hold a thread while they send nothing (an idle keep-alive, a
// client that connected and waits) and by streams, which run for minutes; then a lookup
// waits for a free thread past the program's patience. Threads are cheap next to that.
// At the limit the accept loop is never held up: the connection still gets a thread, which
// only refuses it (Admitted() is false there).
class ConnectionThreads : public httplib::TaskQueue
{
public:
    explicit ConnectionThreads(std::size_t most) : limit(most) {}
    ~ConnectionThreads() override { shutdown(); }

    // Runs the connection at once, admitted or to be refused.
    void enqueue(std::function<void()> fn) override;
    // Waits until every admitted connection has ended.
    void shutdown() override;

    // Whether the connection served on the calling thread is within the limit.
    static bool Admitted();

private:
    const std::size_t limit;
    // Guards running; each thread lowers it when its connection ends.
    std::mutex lock;
    std::condition_variable changed;
    std::size_t running = 0;
};
