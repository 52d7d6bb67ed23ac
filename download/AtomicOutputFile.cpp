#include "download/AtomicOutputFile.h"

#include "download/FreeNamePlacement.h"
#include "download/NarrowPath.h"
#include "download/TempFileRegistry.h"

#include <wx/filename.h>
#include <wx/log.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Short, so that a final name of the longest length a file system allows still leaves room
// for the temporary name next to it; hidden, so file managers do not show it while it grows.
const std::string kPartTemplate = std::string("/") + TempFileRegistry::kPartNamePrefix + "XXXXXX" +
                                  TempFileRegistry::kPartNameSuffix;
constexpr int kPartSuffixLength = sizeof(TempFileRegistry::kPartNameSuffix) - 1;
// Large writes keep the number of system calls low on files of hundreds of megabytes.
constexpr size_t kStdioBufferSize = 1 << 20;
} // namespace

AtomicOutputFile::AtomicOutputFile(const OutputNames& names) : names(names)
{
    const wxString proposed = names.Candidate(0);
    wxString folder = wxFileName(proposed).GetPath();
    if (folder.empty())
        folder = ".";
    const std::string narrowFolder = NarrowPath(folder);
    if (narrowFolder.empty() || NarrowPath(proposed).empty())
    {
        Fail(EINVAL);
        return;
    }
    std::string name = narrowFolder + kPartTemplate;
    const int fd = mkstemps(&name[0], kPartSuffixLength);
    if (fd < 0)
    {
        Fail(errno);
        return;
    }
    narrowPart = name;
    // Named before anything else can fail, so a killed run's partial output is found later.
    TempFileRegistry::Add(narrowPart);
    partPath = wxString(name.c_str(), *wxConvFileName);
    // mkstemps made it readable by its owner only, and so it stays while it grows: a copy of
    // someone's download in a shared folder is not for others to read before it is theirs.
    file = fdopen(fd, "wb");
    if (!file)
    {
        Fail(errno);
        close(fd);
        Discard();
        return;
    }
    buffer.reset(new char[kStdioBufferSize]);
    setvbuf(file, buffer.get(), _IOFBF, kStdioBufferSize);
}

AtomicOutputFile::~AtomicOutputFile()
{
    if (file)
    {
        std::fclose(file);
        file = nullptr;
        Discard();
    }
}

bool AtomicOutputFile::Commit()
{
    if (!file)
    {
        if (error.empty())
            Fail(EBADF);
        return false;
    }
    // No fsync: the rename makes the file appear whole or not at all to other programs, which
    // is what the user sees; surviving a power cut is not promised, and syncing a large file
    // would cost seconds.
    const bool flushed = std::fflush(file) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file) == 0;
    const int closeError = errno;
    file = nullptr;
    if (!flushed || !closed)
    {
        Fail(flushed ? closeError : flushError);
        Discard();
        return false;
    }
    wxString placed;
    const int placeError = PlaceUnderFreeName(partPath, names, placed);
    if (placeError != 0)
    {
        Fail(placeError);
        Discard();
        return false;
    }
    finalPath = placed;
    TempFileRegistry::Forget(narrowPart);
    narrowPart.clear();
    buffer.reset();
    return true;
}

void AtomicOutputFile::Fail(int errorCode)
{
    error = wxSysErrorMsgStr(errorCode);
}

void AtomicOutputFile::Discard()
{
    if (!narrowPart.empty())
        TempFileRegistry::Remove(narrowPart);
    narrowPart.clear();
    buffer.reset();
}
