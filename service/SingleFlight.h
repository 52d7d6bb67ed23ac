#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// One piece of work per key at a time: whoever asks for a key while its work is under way
// waits for that work and shares its result instead of starting the same work again.
// Simultaneous lookups of one video so cost one run of the resolver.
template <typename Result> class SingleFlight
{
public:
    using Clock = std::chrono::steady_clock;

    // The result of work for key: run here, or, while another caller runs it, that caller's,
    // waited for until the deadline; late()'s result when it did not come by then. The work
    // runs without any lock held, so it may take as long as it must.
    Result Run(const std::string& key, Clock::time_point deadline,
               const std::function<Result()>& work, const std::function<Result()>& late)
    {
        std::unique_lock<std::mutex> hold(lock);
        const auto running = flights.find(key);
        if (running != flights.end())
        {
            const std::shared_ptr<Flight> flight = running->second;
            if (!landed.wait_until(hold, deadline, [&flight] { return flight->done; }))
                return late();
            return flight->result;
        }
        const auto flight = std::make_shared<Flight>();
        flights.emplace(key, flight);
        hold.unlock();
        Result result = work();
        hold.lock();
        flight->result = result;
        flight->done = true;
        flights.erase(key);
        landed.notify_all();
        return result;
    }

private:
    struct Flight
    {
        bool done = false;
        Result result;
    };

    // Guards flights and each flight's fields; landed is told whenever one ends.
    std::mutex lock;
    std::condition_variable landed;
    std::map<std::string, std::shared_ptr<Flight>> flights;
};
