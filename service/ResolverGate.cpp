#include "ResolverGate.h"

#include <algorithm>

std::unique_ptr<ResolverGate::Turn> ResolverGate::Take(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> hold(lock);
    const unsigned long ticket = nextTicket++;
    waiting.push_back(ticket);
    const bool mine = changed.wait_until(
        hold, deadline, [this, ticket] { return taken < limit && waiting.front() == ticket; });
    waiting.erase(std::find(waiting.begin(), waiting.end(), ticket));
    if (!mine)
    {
        // The next in line may have been waiting behind this one alone.
        changed.notify_all();
        return nullptr;
    }
    ++taken;
    // Another turn may still be free for the one now at the front.
    changed.notify_all();
    return std::make_unique<Turn>(*this);
}

void ResolverGate::GiveBack()
{
    {
        const std::lock_guard<std::mutex> hold(lock);
        --taken;
    }
    changed.notify_all();
}
