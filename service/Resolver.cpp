#include "Resolver.h"

#include "ConverterStage.h"
#include "ErrorText.h"
#include "MergedFormats.h"
#include "PageAddress.h"
#include "ServiceLog.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{
const char* const kIdPlaceholder = "%s";
// Long enough that choosing a line and pressing Download finds the lookup still there.
constexpr auto kCacheLifetime = std::chrono::minutes(5);
constexpr std::size_t kMostCachedVideos = 256;
// Addresses are small; past this many, one other than the newest is forgotten.
constexpr std::size_t kMostRememberedAddresses = 4096;
// A watch page's description is a few megabytes at most; this bounds a runaway program.
constexpr std::size_t kMostDescriptionBytes = std::size_t{64} * 1024 * 1024;
constexpr std::size_t kReadBlockBytes = std::size_t{64} * 1024;

std::string TookTooLong(std::chrono::seconds limit)
{
    return "the resolver took longer than " + std::to_string(limit.count()) + " s and was ended";
}

// A failed lookup whose reply says no more than its log line.
std::shared_ptr<const Resolver::Entry> Failed(Resolver::Failure& failure, const char* reason)
{
    failure.reply = MakeResolverFailure(reason, failure.log);
    return nullptr;
}

const char* const kFolderPrefix = "norvik-service-";

std::string TemporaryRoot()
{
    // Only read; the service writes its environment only in main, before any thread starts.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

std::string FromEnvironment(const char* name)
{
    // Only read; the service writes its environment only in main, before any thread starts.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* value = std::getenv(name);
    return value && *value ? value : "";
}

// The user's own configuration file, where yt-dlp looks for it (its manual's "User
// Configuration", first found wins); empty when there is none.
std::string UserConfiguration()
{
    const std::string home = FromEnvironment("HOME");
    std::string configHome = FromEnvironment("XDG_CONFIG_HOME");
    if (configHome.empty() && !home.empty())
        configHome = home + "/.config";
    std::vector<std::string> candidates;
    if (!configHome.empty())
        candidates = {configHome + "/yt-dlp.conf", configHome + "/yt-dlp/config",
                      configHome + "/yt-dlp/config.txt"};
    if (!home.empty())
        for (const char* name :
             {"/yt-dlp.conf", "/yt-dlp.conf.txt", "/.yt-dlp/config", "/.yt-dlp/config.txt"})
            candidates.push_back(home + name);
    for (const std::string& file : candidates)
        if (access(file.c_str(), R_OK) == 0)
            return file;
    return "";
}
} // namespace

Resolver::Entry::Entry(ResolvedVideo resolved, std::string description,
                       ThumbnailFetcher::Picture fetched, std::string pictureOnDisk)
    : video(std::move(resolved)), infoFile(std::move(description)), picture(std::move(fetched)),
      pictureFile(std::move(pictureOnDisk))
{
}

Resolver::Entry::~Entry()
{
    unlink(infoFile.c_str());
    if (!pictureFile.empty())
        unlink(pictureFile.c_str());
}

const ResolvedFormat* Resolver::Entry::Format(const std::string& itag) const
{
    for (const ResolvedFormat& f : video.formats)
        if (f.itag == itag)
            return &f;
    return nullptr;
}

namespace
{
// Every run starts in a folder of its own: a program named by a relative path is found from
// the folder the service started in.
Resolver::Settings WithAbsoluteProgram(Resolver::Settings settings)
{
    std::string& program = settings.program;
    if (program.find('/') != std::string::npos && program.front() != '/')
    {
        std::error_code failed;
        const std::filesystem::path absolute = std::filesystem::absolute(program, failed);
        if (!failed)
            program = absolute.string();
    }
    return settings;
}
} // namespace

Resolver::Resolver(Settings s) : settings(WithAbsoluteProgram(std::move(s)))
{
    if (!Enabled())
        return;
    const int abandoned = ScratchFolder::RemoveAbandoned(TemporaryRoot(), kFolderPrefix);
    if (abandoned > 0)
        LogLine("removed " + std::to_string(abandoned) + " folder(s) of services that were ended");
    folder = ScratchFolder::Make(TemporaryRoot(), kFolderPrefix, folderError, true);
    userConfiguration = UserConfiguration();
}

ProcessRunner::Command Resolver::BaseCommand() const
{
    // Never a configuration file of the folder it runs in (one can name commands to run);
    // the user's own stays honoured, cookies and all, as it would be on their command line.
    ProcessRunner::Command command{settings.program, "--ignore-config"};
    if (!userConfiguration.empty())
        command.insert(command.end(), {"--config-locations", userConfiguration});
    // Lookups and streams alike: a site that asks for a sign-in asks for both.
    if (!settings.cookiesFromBrowser.empty())
        command.insert(command.end(), {"--cookies-from-browser", settings.cookiesFromBrowser});
    return command;
}

bool Resolver::IsWatchUrlTemplate(const std::string& text)
{
    const std::size_t first = text.find(kIdPlaceholder);
    return first != std::string::npos && text.find(kIdPlaceholder, first + 1) == std::string::npos;
}

bool Resolver::ProgramFound(std::string& reason) const
{
    const std::string& program = settings.program;
    if (program.find('/') != std::string::npos)
    {
        if (access(program.c_str(), X_OK) == 0)
            return true;
        reason = "resolver \"" + program + "\" cannot be run: " + ErrorText(errno);
        return false;
    }
    // Only read; the service writes its environment only in main, before any thread starts.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    std::size_t start = 0;
    while (start <= dirs.size())
    {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate = dir;
        candidate += '/';
        candidate += program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    reason = "resolver \"" + program + "\" is not found on PATH";
    return false;
}

ProcessRunner::Command Resolver::LookupCommand(const std::string& page) const
{
    ProcessRunner::Command command = BaseCommand();
    // The address goes after "--", so nothing in it is ever read as an option.
    command.insert(command.end(), {"--dump-single-json", "--no-playlist", "--", page});
    return command;
}

std::string Resolver::PageOf(const std::string& id)
{
    if (IsValidVideoId(id))
    {
        std::string url = settings.watchUrl;
        url.replace(url.find(kIdPlaceholder), std::strlen(kIdPlaceholder), id);
        return url;
    }
    const std::lock_guard<std::mutex> hold(lock);
    const auto it = addresses.find(id);
    return it == addresses.end() ? std::string() : it->second;
}

std::vector<ProcessRunner::Command> Resolver::StreamCommands(const Entry& entry,
                                                             const ResolvedFormat& format) const
{
    ProcessRunner::Command command = BaseCommand();
    // Left to itself yt-dlp skips a fragment it cannot fetch and ends with success: the
    // client would get a file with a hole, reported complete.
    command.insert(command.end(), {"--load-info-json", entry.infoFile, "--format", format.selection,
                                   "--quiet", "--no-progress", "--abort-on-unavailable-fragment"});
    // A merge of two formats: the resolver's ffmpeg writes it in the record's container.
    if (format.selection.find('+') != std::string::npos)
        for (const std::string& option : MergedFormats::StreamOptions(format.type))
            command.push_back(option);
    command.insert(command.end(), {"--output", "-"});
    switch (format.conversion)
    {
    case StreamConversion::Remux:
        return {command, ConverterStage::Remux()};
    case StreamConversion::Mp3:
        return {command,
                ConverterStage::Mp3(entry.video.title, entry.video.uploader, entry.pictureFile)};
    case StreamConversion::None:
        break;
    }
    return {command};
}

std::unique_ptr<ScratchFolder> Resolver::NewRunFolder(std::string& error) const
{
    if (!folder)
    {
        error = "no folder for the resolver's runs: " + folderError;
        return nullptr;
    }
    return ScratchFolder::Make(folder->Path(), "run-", error);
}

std::shared_ptr<const Resolver::Entry> Resolver::FromCache(const std::string& id)
{
    const std::lock_guard<std::mutex> hold(lock);
    const auto it = cache.find(id);
    if (it != cache.end() && std::chrono::steady_clock::now() < it->second.expires)
        return it->second.entry;
    return nullptr;
}

std::shared_ptr<const Resolver::Entry> Resolver::LookupAddress(const std::string& address,
                                                               Failure& failure)
{
    if (!PageAddress::IsAccepted(address))
    {
        failure.log = "not an http or https address";
        return Failed(failure, FailureReason::kUnavailable);
    }
    const std::string id = PageAddress::IdOf(address);
    {
        const std::lock_guard<std::mutex> hold(lock);
        auto& remembered = addresses[id];
        // Another address with the same hash: its lookup is not this page's.
        if (!remembered.empty() && remembered != address)
            cache.erase(id);
        remembered = address;
        if (addresses.size() > kMostRememberedAddresses)
            addresses.erase(addresses.begin() == addresses.find(id) ? std::next(addresses.begin())
                                                                    : addresses.begin());
    }
    return Lookup(id, failure);
}

std::shared_ptr<const Resolver::Entry> Resolver::Lookup(const std::string& id, Failure& failure)
{
    // No video has such an id, whether or not resolving is on.
    if (!IsValidVideoId(id) && !PageAddress::IsId(id))
    {
        failure.log = "not a video id";
        return Failed(failure, FailureReason::kUnavailable);
    }
    if (!Enabled())
    {
        failure.log = "resolving is turned off";
        return Failed(failure, FailureReason::kNoResolver);
    }
    if (std::shared_ptr<const Entry> cached = FromCache(id))
        return cached;
    const std::string page = PageOf(id);
    if (page.empty())
    {
        failure.log = "no page is known for this id";
        return Failed(failure, FailureReason::kUnavailable);
    }
    std::shared_ptr<const Entry> entry = Resolve(id, page, failure);
    if (!entry)
        return nullptr;
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard<std::mutex> hold(lock);
    for (auto it = cache.begin(); it != cache.end();)
        it = now >= it->second.expires ? cache.erase(it) : std::next(it);
    if (cache.size() >= kMostCachedVideos)
    {
        auto oldest = cache.begin();
        for (auto it = cache.begin(); it != cache.end(); ++it)
            if (it->second.expires < oldest->second.expires)
                oldest = it;
        cache.erase(oldest);
    }
    cache[id] = {entry, now + kCacheLifetime};
    return entry;
}

std::shared_ptr<const Resolver::Entry> Resolver::Resolve(const std::string& id,
                                                         const std::string& page, Failure& failure)
{
    const auto deadline = ProcessRunner::Clock::now() + settings.timeout;
    std::string& error = failure.log;
    // A folder of its own: yt-dlp reads a configuration file from the folder it runs in.
    const std::unique_ptr<ScratchFolder> runFolder = NewRunFolder(error);
    if (!runFolder)
        return Failed(failure, FailureReason::kOther);
    ProcessRunner run;
    // Whatever keeps a program from starting, it is one that cannot run here.
    if (!run.StartPipeline({LookupCommand(page)}, error, runFolder->Path()))
        return Failed(failure, FailureReason::kNoResolver);
    std::string text;
    std::vector<char> block(kReadBlockBytes);
    for (;;)
    {
        std::size_t got = 0;
        const auto result = run.Read(block.data(), block.size(), got, deadline);
        if (result == ProcessRunner::ReadResult::Data)
        {
            text.append(block.data(), got);
            if (text.size() > kMostDescriptionBytes)
            {
                run.Kill();
                error = "the resolver's description passed " +
                        std::to_string(kMostDescriptionBytes) + " bytes";
                return Failed(failure, FailureReason::kOther);
            }
            continue;
        }
        if (result == ProcessRunner::ReadResult::End)
            break;
        run.Kill();
        if (result == ProcessRunner::ReadResult::TimedOut)
        {
            error = TookTooLong(settings.timeout);
            return Failed(failure, FailureReason::kTimeout);
        }
        error = "the resolver's output could not be read";
        return Failed(failure, FailureReason::kOther);
    }
    std::string why;
    if (!run.Finish(deadline, why))
    {
        const bool late = ProcessRunner::Clock::now() >= deadline;
        error = late ? TookTooLong(settings.timeout) : "the resolver " + why;
        const std::string reply = error;
        const std::string said = run.LastErrorLine();
        if (!said.empty())
            error += ": " + said;
        if (late)
        {
            failure.reply = MakeResolverFailure(FailureReason::kTimeout, reply);
            return nullptr;
        }
        // yt-dlp's own words say why; without any, the exit status does.
        failure.reply = ClassifyResolverOutput(run.ErrorOutput());
        if (failure.reply.message.empty())
            failure.reply.message = ReplyMessageLine(error);
        return nullptr;
    }
    return Describe(id, text, run, failure);
}

std::shared_ptr<const Resolver::Entry> Resolver::Describe(const std::string& id,
                                                          const std::string& text,
                                                          const ProcessRunner& run,
                                                          Failure& failure)
{
    std::string& error = failure.log;
    const nlohmann::json info = nlohmann::json::parse(text, nullptr, false);
    ResolvedVideo video;
    if (info.is_discarded())
        error = text.empty() ? "the resolver printed nothing" : "the resolver printed no JSON";
    if (info.is_discarded() || !MapResolverJson(info, video, error))
    {
        // yt-dlp ended as if it had succeeded, but its warnings may still say why nothing is
        // usable (no JavaScript runtime: only pictures are left); otherwise the log's words do.
        failure.reply = ClassifyResolverOutput(run.ErrorOutput());
        if (failure.reply.reason == FailureReason::kOther)
            failure.reply.message = ReplyMessageLine(error);
        return nullptr;
    }
    const std::string file = WriteFile(id, ".info.json", text, error);
    if (file.empty())
        return Failed(failure, FailureReason::kOther);
    // Without its picture the lookup still answers; the preview then stays empty.
    ThumbnailFetcher::Picture picture;
    std::string pictureError;
    if (!video.thumbnail.empty() &&
        !ThumbnailFetcher().Fetch(video.thumbnail, picture, pictureError))
        LogLine("picture of " + id + " not fetched from " + video.thumbnail + ": " + pictureError);
    // The MP3's cover is read by ffmpeg, from a file; an MP3 without it is still the sound.
    std::string pictureFile;
    if (!picture.bytes.empty())
    {
        pictureFile = WriteFile(id, ".picture", picture.bytes, pictureError);
        if (pictureFile.empty())
            LogLine("picture of " + id + " not kept for the MP3: " + pictureError);
    }
    return std::make_shared<const Entry>(std::move(video), file, std::move(picture),
                                         std::move(pictureFile));
}

std::string Resolver::WriteFile(const std::string& id, const std::string& ending,
                                const std::string& text, std::string& error)
{
    if (!folder)
    {
        error = "no folder for the resolver's descriptions: " + folderError;
        return "";
    }
    unsigned long number;
    {
        const std::lock_guard<std::mutex> hold(lock);
        number = ++fileCount;
    }
    std::string file = folder->Path() + "/" + id + "-" + std::to_string(number) + ending;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    out.close();
    if (!out)
    {
        unlink(file.c_str());
        error = "cannot write " + file;
        return "";
    }
    return file;
}
