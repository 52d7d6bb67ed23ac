#include "update/ToolUpdater.h"

#include "config/SystemErrorText.h"
#include "update/ChildRun.h"
#include "update/Sha256.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace
{
constexpr mode_t kProgramMode = 0755;
constexpr mode_t kFolderMode = 0755;
constexpr std::size_t kDigestHexDigits = 64;
// A Python program of many modules may take a while to start on a loaded machine.
constexpr std::chrono::seconds kVersionLimit{30};
// Unpacking deno's archive writes about a hundred megabytes.
constexpr std::chrono::seconds kUnpackLimit{120};
const char* const kTempPrefix = ".update-";
const char* const kJsRuntimeDigestRecord = ".deno-archive.sha256";
const char* const kDigestSuffix = ".sha256sum";
// Takes one member out of a zip archive with python3's standard zipfile: no unpacker of our
// own reads the archive.
const char* const kUnzipScript = "import shutil, sys, zipfile\n"
                                 "with zipfile.ZipFile(sys.argv[1]) as archive:\n"
                                 "    with archive.open(sys.argv[2]) as member:\n"
                                 "        with open(sys.argv[3], 'wb') as out:\n"
                                 "            shutil.copyfileobj(member, out)\n";

std::string WithSlash(std::string url)
{
    if (!url.empty() && url.back() != '/')
        url += '/';
    return url;
}

std::string ToLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool MakeFolders(const std::string& folder, std::string& error)
{
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1))
    {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST)
        {
            error = "cannot make " + part + ": " + SystemErrorText(errno).utf8_string();
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

// A file beside the copy it may replace, so the rename stays on one file system; removed
// unless kept.
class TempFile
{
public:
    explicit TempFile(const std::string& folder)
    {
        path = folder + "/" + kTempPrefix + "XXXXXX";
        fd = mkostemp(path.data(), O_CLOEXEC);
        if (fd < 0)
            path.clear();
    }
    ~TempFile()
    {
        Close();
        if (!path.empty())
            unlink(path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool Made(std::string& error) const
    {
        if (fd < 0)
            error = "cannot make a file for the download: " + SystemErrorText(errno).utf8_string();
        return fd >= 0;
    }
    int Fd() const { return fd; }
    const std::string& Path() const { return path; }
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    // Makes it the program at target: executable, on disk, then renamed over the old copy.
    bool InstallAs(const std::string& target, mode_t mode, std::string& error)
    {
        if (fd >= 0 && (fchmod(fd, mode) != 0 || fsync(fd) != 0))
        {
            error = "cannot finish " + path + ": " + SystemErrorText(errno).utf8_string();
            return false;
        }
        Close();
        if (chmod(path.c_str(), mode) != 0 || rename(path.c_str(), target.c_str()) != 0)
        {
            error = "cannot put the download at " + target + ": " +
                    SystemErrorText(errno).utf8_string();
            return false;
        }
        path.clear();
        return true;
    }

private:
    std::string path;
    int fd = -1;
};

// A process killed during an update leaves its download behind; only one Norvik runs per
// user, so any such file is nobody's.
void RemoveLeftovers(const std::string& folder)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    // The stream is this call's own; glibc's readdir is safe on distinct streams, and
    // readdir_r is deprecated.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    while (const dirent* entry = readdir(dir))
        if (std::strncmp(entry->d_name, kTempPrefix, std::strlen(kTempPrefix)) == 0)
            unlinkat(dirfd(dir), entry->d_name, 0);
    closedir(dir);
}

std::string ReadSmallFile(const std::string& path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char block[256];
    ssize_t got = 0;
    while ((got = read(fd, block, sizeof block)) > 0 && text.size() < sizeof block)
        text.append(block, std::size_t(got));
    close(fd);
    return text;
}

// Downloads address into a new file of folder and checks it against digest; the file is
// removed again on any failure.
bool FetchChecked(const std::string& address, const std::string& digest, TempFile& file,
                  const ToolUpdater::Settings& settings, const std::atomic<bool>& cancel,
                  std::string& error)
{
    if (!file.Made(error) ||
        !ReleaseDownload::ToFile(address, file.Fd(), settings.limits, cancel, error))
        return false;
    const std::string got = Sha256::OfFile(file.Path(), error);
    if (got.empty())
        return false;
    if (got != ToLower(digest))
    {
        error = address + " does not match the SHA-256 its release publishes";
        return false;
    }
    return true;
}
} // namespace

std::string ToolUpdater::DefaultFolder()
{
    // Only read; the program writes its environment only at start-up
    // (app/StartupEnvironment), before any thread of ours runs.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* data = std::getenv("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is invalid by the XDG base-directory rules: ignore it.
    if (data && data[0] == '/')
        return std::string(data) + "/norvik";
    const char* home = std::getenv("HOME"); // NOLINT(concurrency-mt-unsafe): as above
    return std::string(home ? home : "") + "/.local/share/norvik";
}

std::string ToolUpdater::CopyIn(const std::string& folder, const char* name)
{
    return folder + "/" + name;
}

std::string ToolUpdater::FindOnPath(const std::string& name, const std::string& searchPath,
                                    const std::string& skipFolder)
{
    std::stringstream folders(searchPath);
    std::string folder;
    while (std::getline(folders, folder, ':'))
    {
        if (folder.empty() || folder == skipFolder)
            continue;
        std::string candidate = folder;
        candidate += '/';
        candidate += name;
        struct stat info
        {
        };
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return "";
}

std::string ToolUpdater::DigestFor(const std::string& sums, const std::string& name)
{
    std::istringstream lines(sums);
    std::string line;
    while (std::getline(lines, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string digest;
        std::string file;
        fields >> digest >> file;
        // sha256sum marks files read in binary mode with a star.
        if (!file.empty() && file.front() == '*')
            file.erase(0, 1);
        std::string rest;
        if (file == name && !(fields >> rest) && Sha256::IsDigest(digest))
            return ToLower(digest);
    }
    return "";
}

std::string ToolUpdater::JsRuntimeArchive()
{
    utsname machine{};
    if (uname(&machine) != 0)
        return "";
    const std::string arch = machine.machine;
    if (arch != "x86_64" && arch != "aarch64")
        return "";
    return "deno-" + arch + "-unknown-linux-gnu.zip";
}

std::string ToolUpdater::VersionOf(const std::string& program, std::string& error)
{
    std::string output;
    if (!ChildRun::Run({program, "--version"}, kVersionLimit, output, error))
        return "";
    output = output.substr(0, output.find('\n'));
    if (output.empty())
        error = program + " --version said nothing";
    return output;
}

ToolUpdater::Outcome ToolUpdater::Run(const Settings& settings, const std::atomic<bool>& cancel,
                                      const std::function<void(Stage)>& stage)
{
    Outcome outcome;
    if (!MakeFolders(settings.folder, outcome.error))
        return outcome;
    RemoveLeftovers(settings.folder);
    const bool resolverDone = UpdateResolver(settings, cancel, stage, outcome);
    std::string resolverError = outcome.error;
    outcome.error.clear();
    const bool jsRuntimeDone = cancel.load() || UpdateJsRuntime(settings, cancel, stage, outcome);
    if (!jsRuntimeDone)
        outcome.error = "JavaScript runtime: " + outcome.error;
    if (!resolverDone)
        outcome.error = resolverError + (outcome.error.empty() ? "" : "; " + outcome.error);
    if (!resolverDone || !jsRuntimeDone)
        outcome.result = Outcome::Result::Failed;
    return outcome;
}

bool ToolUpdater::UpdateResolver(const Settings& settings, const std::atomic<bool>& cancel,
                                 const std::function<void(Stage)>& stage, Outcome& outcome)
{
    if (stage)
        stage(Stage::CheckingResolver);
    const std::string base = WithSlash(settings.resolverReleaseUrl);
    std::string sums;
    if (!ReleaseDownload::ToText(base + kResolverSums, sums, settings.limits, cancel,
                                 outcome.error))
        return false;
    const std::string digest = DigestFor(sums, kResolverName);
    if (digest.empty())
    {
        outcome.error = base + kResolverSums + " names no " + kResolverName;
        return false;
    }
    const std::string copy = CopyIn(settings.folder, kResolverName);
    std::string unused;
    if (access(copy.c_str(), F_OK) == 0 && Sha256::OfFile(copy, unused) == digest)
    {
        outcome.result = Outcome::Result::UpToDate;
        return true;
    }
    if (stage)
        stage(Stage::DownloadingResolver);
    TempFile file(settings.folder);
    if (!FetchChecked(base + kResolverName, digest, file, settings, cancel, outcome.error) ||
        !file.InstallAs(copy, kProgramMode, outcome.error))
        return false;
    outcome.changed = true;
    outcome.result = Outcome::Result::Updated;
    // The copy is in place whether or not it says its version; the dialog asks it again.
    std::string versionError;
    outcome.version = VersionOf(copy, versionError);
    return true;
}

bool ToolUpdater::UpdateJsRuntime(const Settings& settings, const std::atomic<bool>& cancel,
                                  const std::function<void(Stage)>& stage, Outcome& outcome)
{
    // The system's own runtime is the one yt-dlp finds first and the user keeps current.
    if (!FindOnPath(kJsRuntimeName, settings.searchPath, settings.folder).empty())
        return true;
    const std::string archive = JsRuntimeArchive();
    if (archive.empty())
    {
        outcome.error = "deno publishes no build for this machine";
        return false;
    }
    if (stage)
        stage(Stage::CheckingJsRuntime);
    const std::string base = WithSlash(settings.jsRuntimeReleaseUrl);
    std::string digestText;
    if (!ReleaseDownload::ToText(base + archive + kDigestSuffix, digestText, settings.limits,
                                 cancel, outcome.error))
        return false;
    const std::string digest = ToLower(digestText.substr(0, kDigestHexDigits));
    if (!Sha256::IsDigest(digest))
    {
        outcome.error = base + archive + kDigestSuffix + " holds no SHA-256";
        return false;
    }
    const std::string copy = CopyIn(settings.folder, kJsRuntimeName);
    const std::string record = CopyIn(settings.folder, kJsRuntimeDigestRecord);
    if (access(copy.c_str(), X_OK) == 0 && ReadSmallFile(record) == digest)
        return true;
    if (stage)
        stage(Stage::DownloadingJsRuntime);
    TempFile zip(settings.folder);
    if (!FetchChecked(base + archive, digest, zip, settings, cancel, outcome.error))
        return false;
    zip.Close();
    TempFile program(settings.folder);
    if (!program.Made(outcome.error))
        return false;
    program.Close();
    std::string output;
    if (!ChildRun::Run({"python3", "-c", kUnzipScript, zip.Path(), kJsRuntimeName, program.Path()},
                       kUnpackLimit, output, outcome.error))
    {
        outcome.error = "cannot unpack " + archive + ": " + outcome.error;
        return false;
    }
    TempFile digestFile(settings.folder);
    if (!digestFile.Made(outcome.error) ||
        write(digestFile.Fd(), digest.data(), digest.size()) != ssize_t(digest.size()))
    {
        outcome.error = "cannot record the runtime's SHA-256: " + outcome.error;
        return false;
    }
    if (!program.InstallAs(copy, kProgramMode, outcome.error) ||
        !digestFile.InstallAs(record, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, outcome.error))
        return false;
    outcome.changed = true;
    return true;
}
