#include "ui/QuitHooks.h"

#include <vector>

namespace
{
std::vector<std::function<void()>>& Hooks()
{
    static std::vector<std::function<void()>> hooks;
    return hooks;
}
} // namespace

void QuitHooks::Add(std::function<void()> hook)
{
    Hooks().push_back(std::move(hook));
}

void QuitHooks::RunAll()
{
    // Taken out first, so a hook that quits again finds nothing left to run.
    std::vector<std::function<void()>> due;
    due.swap(Hooks());
    for (const std::function<void()>& hook : due)
        hook();
}
