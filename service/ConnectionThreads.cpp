#include "ConnectionThreads.h"

#include <thread>

void ConnectionThreads::enqueue(std::function<void()> fn)
{
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [this] { return running < limit; });
        ++running;
    }
    std::thread(
        [this, fn = std::move(fn)]
        {
            fn();
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
