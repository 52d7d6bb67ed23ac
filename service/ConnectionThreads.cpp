#include "ConnectionThreads.h"

#include <thread>

namespace
{
// Written once by each connection's thread before it serves, read only by that thread.
thread_local bool admitted = true;
} // namespace

void ConnectionThreads::enqueue(std::function<void()> fn)
{
    bool within = false;
    {
        const std::lock_guard<std::mutex> hold(lock);
        within = running < limit;
        if (within)
            ++running;
    }
    std::thread(
        [this, within, fn = std::move(fn)]
        {
            admitted = within;
            fn();
            if (!within)
                return;
            const std::lock_guard<std::mutex> hold(lock);
            --running;
            changed.notify_all();
        })
        .detach();
}

void ConnectionThreads::shutdown()
{
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [this] { return running == 0; });
}

bool ConnectionThreads::Admitted()
{
    return admitted;
}
