#pragma once

#include "update/ToolUpdater.h"

#include <wx/string.h>

#include <string>
#include <vector>

class AppConfig;

// What the program does with its tools, read from and written to the settings on the GUI
// thread: when a check runs, where its result is kept, and how the service it starts is told
// about the tools and the browser's sign-in.
class ToolUpdates
{
public:
    // Whether Norvik keeps its own tools: the updates are on and the settings name no
    // service (that one has its own resolver).
    static bool Enabled(const AppConfig& settings);
    // At program start: a check on the worker when one is due.
    static void StartIfDue();
    // "Update now": a check at once, unless one runs; false when the settings allow none.
    static bool StartNow();
    // Records the outcome in the settings and the log; called on the GUI thread.
    static void Record(const ToolUpdater::Outcome& outcome, long when);

    // The settings a check runs with.
    static ToolUpdater::Settings CheckSettings(const AppConfig& settings);
    // The options after the port and address of the service the program starts.
    static std::vector<std::string> ServiceArguments(const AppConfig& settings);

    // The stored result, read back: "current", "updated:VERSION" or "failed:REASON".
    static constexpr const char* kCurrent = "current";
    static constexpr const char* kUpdatedPrefix = "updated:";
    static constexpr const char* kFailedPrefix = "failed:";
};
