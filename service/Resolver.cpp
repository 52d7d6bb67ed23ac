#include "Resolver.h"

#include "ErrorText.h"
#include "PageAddress.h"
#include "ResolverProgram.h"
#include "ServiceLog.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
// What yt-dlp needs to find in a cookie file before it adds the cookies it used.
const char* const kEmptyCookieFile = "# Netscape HTTP Cookie File\n";
constexpr mode_t kOwnerOnly = 0600;
} // namespace

Resolver::Entry::Entry(ResolvedVideo resolved, std::string description,
                       ThumbnailFetcher::Picture fetched, std::string pictureOnDisk,
                       std::string cookies)
    : video(std::move(resolved)), infoFile(std::move(description)), picture(std::move(fetched)),
      pictureFile(std::move(pictureOnDisk)), cookieFile(std::move(cookies))
{
}

Resolver::Entry::~Entry()
{
    for (const std::string* file : {&infoFile, &pictureFile, &cookieFile})
        if (!file->empty())
            unlink(file->c_str());
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
Resolver::Settings WithAbsoluteProgram(Resolver::Settings settings)
{
    settings.program = ResolverProgram::Absolute(settings.program);
    return settings;
}
} // namespace

Resolver::Resolver(Settings s)
    : settings(WithAbsoluteProgram(std::move(s))),
      gate(std::max<std::size_t>(1, settings.mostRunning))
{
    if (!Enabled())
        return;
    const std::string root = ResolverProgram::TemporaryRoot();
    const int abandoned = ScratchFolder::RemoveAbandoned(root, kFolderPrefix);
    if (abandoned > 0)
        LogLine("removed " + std::to_string(abandoned) + " folder(s) of services that were ended");
    folder = ScratchFolder::Make(root, kFolderPrefix, folderError, true);
    commands = ResolverCommands(settings.program, ResolverProgram::UserConfiguration(),
                                settings.cookiesFromBrowser);
}

bool Resolver::ProgramFound(std::string& reason) const
{
    return ResolverProgram::Found(settings.program, reason);
}

std::unique_ptr<ResolverGate::Turn> Resolver::TakeTurn(ResolverGate::Clock::time_point deadline)
{
    return gate.Take(deadline);
}

bool Resolver::IsWatchUrlTemplate(const std::string& text)
{
    const std::size_t first = text.find(kIdPlaceholder);
    return first != std::string::npos && text.find(kIdPlaceholder, first + 1) == std::string::npos;
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
                                                             const ResolvedFormat& format,
                                                             const std::string& soundAddress) const
{
    return commands.Stream(
        {entry.infoFile, entry.video.title, entry.video.uploader, entry.pictureFile}, format,
        soundAddress);
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
    const auto deadline = ProcessRunner::Clock::now() + settings.timeout;
    // One who joins a lookup under way waits as long as that run may take, its picture too.
    const Outcome outcome = lookups.Run(
        id, deadline + ThumbnailFetcher::kTimeLimit,
        [&]
        {
            // A lookup that ended just before this one joined is not made again.
            Outcome run{FromCache(id), {}};
            if (!run.entry)
                run.entry = Resolve(id, page, deadline, run.failure);
            if (run.entry)
                Keep(id, run.entry);
            return run;
        },
        [this]
        {
            Outcome late;
            late.failure.log = TookTooLong(settings.timeout);
            Failed(late.failure, FailureReason::kTimeout);
            return late;
        });
    failure = outcome.failure;
    return outcome.entry;
}

std::shared_ptr<const Resolver::Entry>
Resolver::LookupAgain(const std::string& id, const std::shared_ptr<const Entry>& stale,
                      Failure& failure)
{
    {
        const std::lock_guard<std::mutex> hold(lock);
        const auto cached = cache.find(id);
        if (cached != cache.end() && cached->second.entry == stale)
            cache.erase(cached);
    }
    return Lookup(id, failure);
}

void Resolver::Keep(const std::string& id, const std::shared_ptr<const Entry>& entry)
{
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
}

std::shared_ptr<const Resolver::Entry> Resolver::Resolve(const std::string& id,
                                                         const std::string& page,
                                                         ProcessRunner::Clock::time_point deadline,
                                                         Failure& failure)
{
    std::string& error = failure.log;
    const std::unique_ptr<ResolverGate::Turn> turn = gate.Take(deadline);
    if (!turn)
    {
        error = "all " + std::to_string(gate.Limit()) + " runs of the resolver allowed at once " +
                "were busy for " + std::to_string(settings.timeout.count()) + " s";
        return Failed(failure, FailureReason::kTimeout);
    }
    std::string cookieFile;
    if (!settings.cookiesFromBrowser.empty())
    {
        cookieFile = WriteFile(id, ".cookies", kEmptyCookieFile, error);
        if (cookieFile.empty())
            return Failed(failure, FailureReason::kOther);
    }
    std::shared_ptr<const Entry> entry = RunLookup(id, page, cookieFile, deadline, failure);
    // A lookup that failed leaves no cookies behind; one that succeeded hands them on to its
    // entry.
    if (!entry && !cookieFile.empty())
        unlink(cookieFile.c_str());
    return entry;
}

std::shared_ptr<const Resolver::Entry>
Resolver::RunLookup(const std::string& id, const std::string& page, const std::string& cookieFile,
                    ProcessRunner::Clock::time_point deadline, Failure& failure)
{
    std::string& error = failure.log;
    // A folder of its own: yt-dlp reads a configuration file from the folder it runs in.
    const std::unique_ptr<ScratchFolder> runFolder = NewRunFolder(error);
    if (!runFolder)
        return Failed(failure, FailureReason::kOther);
    ProcessRunner run;
    // Whatever keeps a program from starting, it is one that cannot run here.
    if (!run.StartPipeline({commands.Lookup(page, cookieFile)}, error, runFolder->Path()))
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
    return Describe(id, text, run, cookieFile, failure);
}

std::shared_ptr<const Resolver::Entry>
Resolver::Describe(const std::string& id, const std::string& text, const ProcessRunner& run,
                   const std::string& cookieFile, Failure& failure)
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
                                         std::move(pictureFile), cookieFile);
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
    // The owner's alone: a cookie file holds the browser's sign-in.
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kOwnerOnly);
    int failed = fd < 0 ? errno : 0;
    for (std::size_t done = 0; failed == 0 && done < text.size();)
    {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += std::size_t(n);
        else if (n == 0 || errno != EINTR)
            failed = n == 0 ? EIO : errno;
    }
    if (fd >= 0 && close(fd) != 0 && failed == 0)
        failed = errno;
    if (failed != 0)
    {
        unlink(file.c_str());
        error = "cannot write " + file + ": " + ErrorText(failed);
        return "";
    }
    return file;
}
