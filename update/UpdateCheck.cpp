#include "update/UpdateCheck.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace
{
// Guards the snapshot and the thread object; the worker writes the snapshot, pollers read it.
std::mutex lock;
UpdateCheck::Snapshot state;
std::thread worker;
// Set by Stop on the GUI thread, read by the transfer on the worker.
std::atomic<bool> cancel{false};
} // namespace

bool UpdateCheck::Start(ToolUpdater::Settings settings,
                        std::function<void(const ToolUpdater::Outcome&)> done)
{
    std::thread finished;
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (state.running)
            return false;
        // The last worker has left its loop; its thread object is joined outside the lock.
        finished = std::move(worker);
    }
    if (finished.joinable())
        finished.join();
    const std::lock_guard<std::mutex> hold(lock);
    cancel.store(false);
    state.running = true;
    state.stage = ToolUpdater::Stage::CheckingResolver;
    worker = std::thread(
        [settings = std::move(settings), done = std::move(done)]
        {
            const ToolUpdater::Outcome outcome =
                ToolUpdater::Run(settings, cancel,
                                 [](ToolUpdater::Stage stage)
                                 {
                                     const std::lock_guard<std::mutex> holdStage(lock);
                                     state.stage = stage;
                                 });
            // Before the end shows: whatever done hands on is under way when a poller sees it.
            if (done)
                done(outcome);
            const std::lock_guard<std::mutex> holdEnd(lock);
            state.outcome = outcome;
            state.running = false;
            ++state.finishedChecks;
        });
    return true;
}

UpdateCheck::Snapshot UpdateCheck::Current()
{
    const std::lock_guard<std::mutex> hold(lock);
    return state;
}

void UpdateCheck::Stop()
{
    cancel.store(true);
    std::thread running;
    {
        const std::lock_guard<std::mutex> hold(lock);
        running = std::move(worker);
    }
    if (running.joinable())
        running.join();
}

bool UpdateCheck::IsDue(std::time_t lastCheck, std::time_t now)
{
    return lastCheck <= 0 || now < lastCheck || now - lastCheck >= kInterval;
}
