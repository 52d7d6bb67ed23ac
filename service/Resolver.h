#pragma once

#include "ProcessRunner.h"
#include "ResolverFailure.h"
#include "ResolverJson.h"
#include "ScratchFolder.h"
#include "ThumbnailFetcher.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Answers ids the catalogue does not hold by running the resolver program (yt-dlp) on the
// watch page, and remembers each answer for a few minutes, together with the description it
// came from, so that a stream of it starts without a second extraction.
class Resolver
{
public:
    struct Settings
    {
        std::string program = "yt-dlp";
        // The watch page, "%s" standing for the id.
        std::string watchUrl = "https://www.youtube.com/watch?v=%s";
        // Below the program's own 15 s wait for a lookup, so it reads "status:fail" rather
        // than a silence.
        std::chrono::seconds timeout{12};
        // The browser whose cookies yt-dlp reads for every run (its own name for it), or
        // empty for none.
        std::string cookiesFromBrowser;
    };

    // One looked-up video; its description file lives as long as the entry, which a stream
    // holds on to while it runs.
    class Entry
    {
    public:
        Entry(ResolvedVideo resolved, std::string description, ThumbnailFetcher::Picture fetched,
              std::string pictureOnDisk);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        const ResolvedVideo video;
        const std::string infoFile;
        // The page's picture, fetched with the lookup; no bytes when there is none.
        const ThumbnailFetcher::Picture picture;
        // The picture written beside the description, for the MP3's cover; empty when none.
        const std::string pictureFile;
        // The record whose itag this is, or null.
        const ResolvedFormat* Format(const std::string& itag) const;
    };

    // Why a lookup gave no video: the line for the log, and the reason and message a reply
    // carries.
    struct Failure
    {
        std::string log;
        ResolverFailure reply;
    };

    // The word that turns resolving off.
    static constexpr const char* kNone = "none";

    explicit Resolver(Settings settings);
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    bool Enabled() const { return settings.program != kNone; }
    // False with the reason when the program cannot be run from here (said once at start).
    bool ProgramFound(std::string& reason) const;
    // True when the template names the id exactly once, as "%s".
    static bool IsWatchUrlTemplate(const std::string& text);

    // The video for a valid id, from the cache or from a run of the program; null with the
    // reason when there is none.
    std::shared_ptr<const Entry> Lookup(const std::string& id, Failure& failure);
    // The video of the page at an http or https address of any site, named by the id
    // PageAddress::IdOf gives; null with the reason when there is none. Its id is then
    // looked up as a video id is, while the service remembers the address.
    std::shared_ptr<const Entry> LookupAddress(const std::string& address, Failure& failure);
    // The video when a lookup of it is still cached, without running anything; else null.
    std::shared_ptr<const Entry> FromCache(const std::string& id);

    // The programs that write one format of a looked-up video to their standard output, each
    // one's output the next one's input.
    std::vector<ProcessRunner::Command> StreamCommands(const Entry& entry,
                                                       const ResolvedFormat& format) const;

    // A folder of its own for one run of the program, inside the resolver's private folder.
    // yt-dlp writes a fragmented format's parts beside its output, which for "-" is its
    // working folder: two runs in one folder would take each other's parts.
    std::unique_ptr<ScratchFolder> NewRunFolder(std::string& error) const;

private:
    // The program and the options every run of it gets.
    ProcessRunner::Command BaseCommand() const;
    // The run of the program that describes a page.
    ProcessRunner::Command LookupCommand(const std::string& page) const;
    // The page an id stands for: the watch page of a video id, the remembered address of a
    // page's id; empty when there is none.
    std::string PageOf(const std::string& id);
    std::shared_ptr<const Entry> Resolve(const std::string& id, const std::string& page,
                                         Failure& failure);
    // The video described by what a run of the program printed; null with the reason, read
    // from the run's error output, when there is none.
    std::shared_ptr<const Entry> Describe(const std::string& id, const std::string& text,
                                          const ProcessRunner& run, Failure& failure);
    // Writes bytes to a new file of the resolver's folder; its name, or empty with the reason.
    std::string WriteFile(const std::string& id, const std::string& ending,
                          const std::string& bytes, std::string& error);

    struct Cached
    {
        std::shared_ptr<const Entry> entry;
        std::chrono::steady_clock::time_point expires;
    };

    const Settings settings;
    // For the descriptions and the runs' folders; removed with the resolver. Declared before
    // the cache, so the cached entries, which delete their files in it, go first.
    std::unique_ptr<ScratchFolder> folder;
    // Why there is no folder, for every lookup and stream that then fails.
    std::string folderError;
    // The user's own yt-dlp configuration file, or empty.
    std::string userConfiguration;
    // Guards the cache and the file counter; runs of the program happen outside it.
    std::mutex lock;
    std::map<std::string, Cached> cache;
    // The addresses of the pages looked up by address, by their ids; kept longer than their
    // lookups, so a stream chosen late still finds its page.
    std::map<std::string, std::string> addresses;
    unsigned long fileCount = 0;
};
