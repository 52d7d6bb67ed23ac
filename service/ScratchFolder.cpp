#include "ScratchFolder.h"

#include "ErrorText.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace
{
// Inside a held folder; its lock lives as long as the service that made the folder, since
// the kernel drops it with the last descriptor, however the process ends.
const char* const kLockName = ".lock";
} // namespace

std::unique_ptr<ScratchFolder> ScratchFolder::Make(const std::string& parent,
                                                   const std::string& prefix, std::string& error,
                                                   bool held)
{
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    // mkdtemp makes it readable by its owner alone.
    if (!mkdtemp(pattern.data()))
    {
        error = "cannot make a folder under " + parent + ": " + ErrorText(errno);
        return nullptr;
    }
    int lockFd = -1;
    if (held)
    {
        const std::string lockFile = pattern + "/" + kLockName;
        lockFd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0)
        {
            error = "cannot lock " + lockFile + ": " + ErrorText(errno);
            if (lockFd >= 0)
                close(lockFd);
            std::error_code ignored;
            std::filesystem::remove_all(pattern, ignored);
            return nullptr;
        }
    }
    return std::unique_ptr<ScratchFolder>(new ScratchFolder(pattern, lockFd));
}

int ScratchFolder::RemoveAbandoned(const std::string& parent, const std::string& prefix)
{
    DIR* dir = opendir(parent.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    // The stream is this call's own; glibc's readdir is safe on distinct streams, and
    // readdir_r is deprecated.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    while (const dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0)
            continue;
        std::string folder = parent;
        folder += '/';
        folder += name;
        struct stat info;
        // Not a link, and ours: in a shared temporary folder anyone can make such a name.
        if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid())
            continue;
        // A folder without a lock file is being made right now, or is not a service's.
        const std::string lockFile = folder + "/" + kLockName;
        const int fd = open(lockFile.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
            ++removed;
        }
        close(fd);
    }
    closedir(dir);
    return removed;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    if (lockFd >= 0)
        close(lockFd);
}
