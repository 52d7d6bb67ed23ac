#pragma once

#include "update/ToolUpdater.h"

#include <ctime>
#include <functional>

// The one check of the tools that runs at a time, on a worker thread of its own, so neither the
// window nor a lookup ever waits for it. The window polls Current(); done is called on the
// worker when the check ends.
class UpdateCheck
{
public:
    struct Snapshot
    {
        bool running = false;
        ToolUpdater::Stage stage = ToolUpdater::Stage::CheckingResolver;
        // Counts finished checks, so a poller sees that a new outcome came.
        unsigned long finishedChecks = 0;
        ToolUpdater::Outcome outcome;
    };

    // Starts a check; false when one is already running.
    static bool Start(ToolUpdater::Settings settings,
                      std::function<void(const ToolUpdater::Outcome&)> done);
    static Snapshot Current();
    // Cuts a running check short and waits for its thread: quitting never waits for a
    // download.
    static void Stop();

    // Whether a check is due: never checked, a day or more since, or a clock set back.
    static bool IsDue(std::time_t lastCheck, std::time_t now);
    static constexpr std::time_t kInterval = std::time_t{24} * 60 * 60;
};
