#pragma once

#include "update/ReleaseDownload.h"

#include <atomic>
#include <functional>
#include <string>

// Keeps Norvik's own copies of the resolver (the single-file release of yt-dlp) and of a
// JavaScript runtime (deno) current from their release sites. A file is taken only when its
// SHA-256 matches the one the release publishes; it is written beside the old copy and renamed
// over it, so the copy in place stays whole until the new one is, and a program that runs the
// old copy keeps its open file. Needs no window; runs on a worker thread.
class ToolUpdater
{
public:
    struct Settings
    {
        // Where the copies are kept (made when missing).
        std::string folder;
        // Release folders, the files' names appended to them.
        std::string resolverReleaseUrl;
        std::string jsRuntimeReleaseUrl;
        // Searched, like PATH, for a deno of the system's: with one, none is fetched.
        std::string searchPath;
        ReleaseDownload::Limits limits;
    };

    enum class Stage
    {
        CheckingResolver,
        DownloadingResolver,
        CheckingJsRuntime,
        DownloadingJsRuntime
    };

    struct Outcome
    {
        enum class Result
        {
            UpToDate,
            Updated,
            Failed
        };
        Result result = Result::Failed;
        // The new copy's own word for its version, after an update.
        std::string version;
        // Why a part failed; both parts' reasons when both did.
        std::string error;
        // Whether a file in the folder was replaced or added.
        bool changed = false;
    };

    static constexpr const char* kResolverName = "yt-dlp";
    static constexpr const char* kJsRuntimeName = "deno";
    static constexpr const char* kResolverSums = "SHA2-256SUMS";

    // Checks both tools; cancel stops a transfer at once (the outcome then says "cancelled").
    // stage, when set, hears each step as it begins.
    static Outcome Run(const Settings& settings, const std::atomic<bool>& cancel,
                       const std::function<void(Stage)>& stage = {});

    // $XDG_DATA_HOME/norvik, or ~/.local/share/norvik.
    static std::string DefaultFolder();
    // The copy of a tool kept in folder.
    static std::string CopyIn(const std::string& folder, const char* name);
    // The first executable name in the colon-separated folders of searchPath, leaving out
    // skipFolder; empty when there is none.
    static std::string FindOnPath(const std::string& name, const std::string& searchPath,
                                  const std::string& skipFolder = {});
    // The SHA-256 a SHA2-256SUMS text gives the file named exactly name, or empty.
    static std::string DigestFor(const std::string& sums, const std::string& name);
    // deno's release archive for this machine, or empty where it publishes none.
    static std::string JsRuntimeArchive();
    // What a tool answers to --version (its first line), or empty with the reason.
    static std::string VersionOf(const std::string& program, std::string& error);

private:
    static bool UpdateResolver(const Settings& settings, const std::atomic<bool>& cancel,
                               const std::function<void(Stage)>& stage, Outcome& outcome);
    static bool UpdateJsRuntime(const Settings& settings, const std::atomic<bool>& cancel,
                                const std::function<void(Stage)>& stage, Outcome& outcome);
};
