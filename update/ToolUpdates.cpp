#include "update/ToolUpdates.h"

#include "config/AppConfig.h"
#include "update/UpdateCheck.h"

#include <wx/app.h>
#include <wx/msgout.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace
{
void Begin(const AppConfig& settings)
{
    UpdateCheck::Start(ToolUpdates::CheckSettings(settings),
                       [](const ToolUpdater::Outcome& outcome)
                       {
                           const long when = long(std::time(nullptr));
                           // The settings belong to the GUI thread; without an application
                           // (a test of the worker alone) there is nobody to record it.
                           // The console half of the application: this library has no windows,
                           // and the window class's type is not linked here.
                           if (wxAppConsole* app = wxAppConsole::GetInstance())
                               app->CallAfter([outcome, when]
                                              { ToolUpdates::Record(outcome, when); });
                       });
}
} // namespace

bool ToolUpdates::Enabled(const AppConfig& settings)
{
    return settings.GetResolverUpdates() && !settings.NamesService();
}

void ToolUpdates::StartIfDue()
{
    const AppConfig settings;
    if (Enabled(settings) &&
        UpdateCheck::IsDue(std::time_t(settings.GetToolCheckTime()), std::time(nullptr)))
        Begin(settings);
}

bool ToolUpdates::StartNow()
{
    const AppConfig settings;
    if (!Enabled(settings))
        return false;
    Begin(settings);
    return true;
}

void ToolUpdates::Record(const ToolUpdater::Outcome& outcome, long when)
{
    wxString result;
    switch (outcome.result)
    {
    case ToolUpdater::Outcome::Result::UpToDate:
        result = kCurrent;
        break;
    case ToolUpdater::Outcome::Result::Updated:
        result = kUpdatedPrefix + wxString::FromUTF8(outcome.version);
        break;
    case ToolUpdater::Outcome::Result::Failed:
        result = kFailedPrefix + wxString::FromUTF8(outcome.error);
        wxMessageOutputStderr().Printf("norvik: could not update yt-dlp: %s\n",
                                       wxString::FromUTF8(outcome.error));
        break;
    }
    if (outcome.result == ToolUpdater::Outcome::Result::Updated)
        wxMessageOutputStderr().Printf("norvik: yt-dlp updated to %s\n",
                                       wxString::FromUTF8(outcome.version));
    AppConfig settings;
    settings.SetToolCheck(when, result);
}

ToolUpdater::Settings ToolUpdates::CheckSettings(const AppConfig& settings)
{
    ToolUpdater::Settings check;
    check.folder = ToolUpdater::DefaultFolder();
    check.resolverReleaseUrl = settings.GetResolverReleaseUrl().utf8_string();
    check.jsRuntimeReleaseUrl = settings.GetJsRuntimeReleaseUrl().utf8_string();
    // Only read; the program writes its environment only at start-up
    // (app/StartupEnvironment), before any thread of ours runs.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* path = std::getenv("PATH");
    check.searchPath = path ? path : "";
    return check;
}

std::vector<std::string> ToolUpdates::ServiceArguments(const AppConfig& settings)
{
    std::vector<std::string> arguments;
    if (Enabled(settings))
    {
        // The folder comes first on every resolver's PATH: a copy of yt-dlp or deno that
        // appears there later is found by the next run without a new service.
        const std::string folder = ToolUpdater::DefaultFolder();
        arguments = {"--tools-dir", folder};
        const std::string copy = ToolUpdater::CopyIn(folder, ToolUpdater::kResolverName);
        if (access(copy.c_str(), X_OK) == 0)
            arguments.insert(arguments.end(), {"--resolver", copy});
    }
    const wxString browser = settings.GetBrowserSignIn();
    if (!browser.empty())
        arguments.insert(arguments.end(), {"--cookies-from-browser", browser.utf8_string()});
    return arguments;
}
