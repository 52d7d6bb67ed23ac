#include "download/FreeNamePlacement.h"

#include "download/NarrowPath.h"
#include "download/NewFileMode.h"
#include "download/OutputNames.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Whether renameat2 failed because the file system (or an old kernel) cannot rename without
// replacing, rather than for a reason a second way would meet as well.
bool NoReplaceUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// 0, or the errno; EEXIST when to is taken.
int RenameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!NoReplaceUnsupported(errno))
        return errno;
    // A hard link is made only where no name is, which is the same promise in two steps.
    if (link(from.c_str(), to.c_str()) != 0)
        return errno;
    if (unlink(from.c_str()) != 0)
    {
        // Not moved after all: the new name goes again, so the caller's file is in one place.
        const int error = errno;
        unlink(to.c_str());
        return error;
    }
    return 0;
}
} // namespace

int PlaceUnderFreeName(const wxString& from, const OutputNames& names, wxString& placed)
{
    const std::string narrowFrom = NarrowPath(from);
    if (narrowFrom.empty())
        return EINVAL;
    for (unsigned long number = 0;; ++number)
    {
        const wxString candidate = names.Candidate(number);
        if (candidate.empty())
            return EEXIST;
        const std::string narrowTo = NarrowPath(candidate);
        if (narrowTo.empty())
            return EINVAL;
        const int error = RenameWithoutReplacing(narrowFrom, narrowTo);
        if (error == EEXIST)
            continue;
        if (error != 0)
            return error;
        placed = candidate;
        // The file is whole and in place whatever this says: a mode that did not change
        // leaves it readable by its owner, who is the user, so the save has not failed.
        chmod(narrowTo.c_str(), NewFileMode());
        return 0;
    }
}
