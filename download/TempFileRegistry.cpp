#include "download/TempFileRegistry.h"

#include "download/NarrowPath.h"

#include <wx/filename.h>
#include <wx/utils.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
const char kAppFolder[] = "/norvik/runs";
const char kPartialFolder[] = "/norvik/partial";
// A list is made under a name that cleaners pass over and gets its final name only once it
// is locked, so no other run can take a list that is still being set up for its own.
const char kNewListPrefix[] = "new-";
const char kListPrefix[] = "run-";
const char kUniqueTemplate[] = "XXXXXX";
// Lines of the list: a name made, or a name gone.
constexpr char kAdded = '+';
constexpr char kGone = '-';
constexpr mode_t kPrivateFolder = 0700;

std::mutex registryMutex;
int listFd = -1;
std::string listPath;
std::set<std::string> names;

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// One name a line: the backslash and the line break, which a folder name may hold, escaped.
std::string Escape(const std::string& path)
{
    std::string out;
    for (const char c : path)
    {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& line)
{
    std::string out;
    for (size_t i = 0; i < line.size(); ++i)
    {
        if (line[i] == '\\' && i + 1 < line.size())
        {
            ++i;
            out += line[i] == 'n' ? '\n' : line[i];
        }
        else
            out += line[i];
    }
    return out;
}

// Appends one line with a single write, so a run killed meanwhile leaves whole lines (a cut
// last line has no line break and is not read).
void AppendLocked(char kind, const std::string& path)
{
    if (listFd < 0)
        return;
    const std::string line = kind + Escape(path) + '\n';
    if (write(listFd, line.data(), line.size()) != ssize_t(line.size()))
    {
        // A list that cannot grow is no worse than no list: the files are still removed by
        // this run on every ordinary way out.
    }
}

// The names a list still holds after replaying its lines.
std::set<std::string> ReadList(int fd)
{
    std::string content;
    char block[4096];
    for (;;)
    {
        const ssize_t got = read(fd, block, sizeof block);
        if (got <= 0)
            break;
        content.append(block, size_t(got));
    }
    std::set<std::string> held;
    size_t start = 0;
    for (size_t end = content.find('\n'); end != std::string::npos;
         start = end + 1, end = content.find('\n', start))
    {
        if (end == start)
            continue;
        const std::string path = Unescape(content.substr(start + 1, end - start - 1));
        if (content[start] == kAdded)
            held.insert(path);
        else if (content[start] == kGone)
            held.erase(path);
    }
    return held;
}

// Removes a listed file when it is still what this program made: a plain file of this user
// with one of its names. A symbolic link or someone else's file by that name stays.
bool RemoveIfOurs(const std::string& path)
{
    if (!TempFileRegistry::IsOurName(path))
        return false;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid())
        return false;
    return unlink(path.c_str()) == 0;
}

bool MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1))
    {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), kPrivateFolder) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

wxString BaseFolder(const char* variable, const char* fallbackUnderHome)
{
    wxString value;
    if (wxGetEnv(variable, &value) && value.StartsWith("/"))
        return value;
    return wxGetHomeDir() + fallbackUnderHome;
}
} // namespace

wxString TempFileRegistry::DefaultFolder()
{
    const wxString state = BaseFolder("XDG_STATE_HOME", "/.local/state") + kAppFolder;
    if (MakeFolders(NarrowPath(state)))
        return state;
    return BaseFolder("XDG_CACHE_HOME", "/.cache") + kAppFolder;
}

bool TempFileRegistry::Open(const wxString& folder)
{
    std::lock_guard<std::mutex> guard(registryMutex);
    if (listFd >= 0)
        return true;
    const std::string narrowFolder = NarrowPath(folder);
    if (narrowFolder.empty() || !MakeFolders(narrowFolder))
        return false;
    std::string name = narrowFolder + "/" + kNewListPrefix + kUniqueTemplate;
    // Not inherited: a child process holding the lock would make this run look alive.
    const int fd = mkostemp(&name[0], O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::string finalName =
        narrowFolder + "/" + kListPrefix + name.substr(name.size() - (sizeof kUniqueTemplate - 1));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(name.c_str(), finalName.c_str()) != 0)
    {
        unlink(name.c_str());
        close(fd);
        return false;
    }
    listFd = fd;
    listPath = finalName;
    names.clear();
    return true;
}

void TempFileRegistry::Close()
{
    std::lock_guard<std::mutex> guard(registryMutex);
    if (listFd < 0)
        return;
    unlink(listPath.c_str());
    close(listFd);
    listFd = -1;
    listPath.clear();
    names.clear();
}

int TempFileRegistry::RemoveLeftovers(const wxString& folder, const std::set<std::string>& spare)
{
    const std::string narrowFolder = NarrowPath(folder);
    DIR* dir = opendir(narrowFolder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    // The stream is this call's own; glibc's readdir is safe on distinct streams, and
    // readdir_r is deprecated.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    while (const dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (!StartsWith(name, kListPrefix))
            continue;
        std::string path = narrowFolder;
        path += '/';
        path += name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A list whose run still lives is locked by it.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        {
            for (const std::string& left : ReadList(fd))
                if (spare.count(left) == 0 && RemoveIfOurs(left))
                    ++removed;
            unlink(path.c_str());
        }
        close(fd);
    }
    closedir(dir);
    return removed;
}

wxString TempFileRegistry::PartialFolder()
{
    const wxString folder = BaseFolder("XDG_CACHE_HOME", "/.cache") + kPartialFolder;
    return MakeFolders(NarrowPath(folder)) ? folder : wxString();
}

int TempFileRegistry::RemoveStaleFiles(const wxString& folder, const std::set<std::string>& keep,
                                       std::time_t maxAgeSeconds, std::time_t now)
{
    const std::string narrowFolder = NarrowPath(folder);
    DIR* dir = narrowFolder.empty() ? nullptr : opendir(narrowFolder.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> stale;
    // The stream is this call's own; glibc's readdir is safe on distinct streams, and
    // readdir_r is deprecated.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    while (const dirent* entry = readdir(dir))
    {
        const std::string path = narrowFolder + "/" + entry->d_name;
        struct stat info;
        if (IsOurName(path) && lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            (keep.count(entry->d_name) == 0 || info.st_mtime < now - maxAgeSeconds))
            stale.push_back(path);
    }
    closedir(dir);
    int removed = 0;
    for (const std::string& path : stale)
        if (RemoveIfOurs(path))
            ++removed;
    return removed;
}

wxString TempFileRegistry::CreateTempFile(const wxString& prefix)
{
    wxString where = prefix;
    if (!prefix.Contains("/"))
    {
        const wxString folder = PartialFolder();
        if (!folder.empty())
            where = folder + "/" + prefix;
    }
    const wxString path = wxFileName::CreateTempFileName(where);
    if (!path.empty())
        Add(NarrowPath(path));
    return path;
}

void TempFileRegistry::Add(const std::string& path)
{
    std::lock_guard<std::mutex> guard(registryMutex);
    if (listFd < 0 || path.empty() || !names.insert(path).second)
        return;
    AppendLocked(kAdded, path);
}

void TempFileRegistry::Forget(const std::string& path)
{
    std::lock_guard<std::mutex> guard(registryMutex);
    if (listFd < 0 || names.erase(path) == 0)
        return;
    if (names.empty())
    {
        // Nothing left to name: start the list afresh, so it does not grow for ever.
        if (ftruncate(listFd, 0) == 0)
            return;
    }
    AppendLocked(kGone, path);
}

void TempFileRegistry::Forget(const wxString& path)
{
    Forget(NarrowPath(path));
}

void TempFileRegistry::Remove(const std::string& path)
{
    if (path.empty())
        return;
    unlink(path.c_str());
    Forget(path);
}

void TempFileRegistry::Remove(const wxString& path)
{
    Remove(NarrowPath(path));
}

int TempFileRegistry::RemoveAll()
{
    std::lock_guard<std::mutex> guard(registryMutex);
    int removed = 0;
    for (const std::string& path : names)
        if (RemoveIfOurs(path))
            ++removed;
    names.clear();
    if (listFd >= 0 && ftruncate(listFd, 0) != 0)
    {
        // The files are gone; a later run finds only names of missing files and skips them.
    }
    return removed;
}

bool TempFileRegistry::IsOurName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path[0] != '/')
        return false;
    const std::string name = path.substr(slash + 1);
    return StartsWith(name, kTempNamePrefix) ||
           (StartsWith(name, kPartNamePrefix) && EndsWith(name, kPartNameSuffix));
}
