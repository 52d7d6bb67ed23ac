#include "app/InstanceLock.h"

#include <wx/filename.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{
constexpr mode_t kLockFileMode = 0600;
} // namespace

InstanceLock::~InstanceLock()
{
    if (fd >= 0)
        close(fd);
}

InstanceLock::Result InstanceLock::Acquire(const wxString& folder, const wxString& name)
{
    if (fd >= 0)
        return Result::Held;
    const wxString path = wxFileName(folder, name).GetFullPath();
    // Close-on-exec: a child (the service, a browser) that kept the descriptor would keep the
    // lock after Norvik ended. No link is followed, so the lock cannot be pointed elsewhere.
    const int opened =
        open(path.fn_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLockFileMode);
    if (opened < 0)
        return Result::Unavailable;
    if (flock(opened, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno;
        close(opened);
        return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
    }
    fd = opened;
    return Result::Held;
}
