#include "download/MoveIntoPlace.h"

#include "download/AtomicOutputFile.h"
#include "download/NewFileMode.h"
#include "download/TempFileRegistry.h"

#include <wx/log.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Big blocks make copying a large video between disks about as fast as the disks allow, and
// are small enough that a stop request, looked at before each, is honoured at once.
constexpr size_t kCopyBlockSize = 1 << 20;
} // namespace

bool CopyIntoPlace(const wxString& from, const wxString& to, wxString& error,
                   const std::atomic<bool>* stop)
{
    FILE* source = std::fopen(from.fn_str(), "rb");
    if (!source)
    {
        error = wxSysErrorMsgStr(errno);
        return false;
    }
    AtomicOutputFile target(to);
    if (!target.IsOk())
    {
        error = target.GetError();
        std::fclose(source);
        return false;
    }
    std::unique_ptr<char[]> block(new char[kCopyBlockSize]);
    bool ok = true;
    for (;;)
    {
        if (stop && stop->load())
        {
            error = wxSysErrorMsgStr(ECANCELED);
            ok = false;
            break;
        }
        const size_t got = std::fread(block.get(), 1, kCopyBlockSize, source);
        if (got > 0 && std::fwrite(block.get(), 1, got, target.GetFile()) != got)
        {
            error = wxSysErrorMsgStr(errno);
            ok = false;
            break;
        }
        if (got < kCopyBlockSize)
        {
            if (std::ferror(source))
            {
                error = wxSysErrorMsgStr(errno);
                ok = false;
            }
            break;
        }
    }
    std::fclose(source);
    if (!ok)
        return false;
    if (!target.Commit())
    {
        error = target.GetError();
        return false;
    }
    return true;
}

bool MoveIntoPlace(const wxString& from, const wxString& to, wxString& error,
                   const std::atomic<bool>* stop)
{
    // The source is a temporary file that only its owner may read; in place, it is a file
    // like any other. Should its mode not change, the copy below makes a new file instead.
    const bool modeSet = chmod(from.fn_str(), NewFileMode()) == 0;
    if (modeSet && std::rename(from.fn_str(), to.fn_str()) == 0)
    {
        // Its temporary name is gone: a later clean-up must not look for it.
        TempFileRegistry::Forget(from);
        return true;
    }
    if (modeSet && errno != EXDEV)
    {
        error = wxSysErrorMsgStr(errno);
        return false;
    }
    if (!CopyIntoPlace(from, to, error, stop))
        return false;
    // The new file is in place by now, so a source that cannot be removed is litter, not a
    // failed move: reporting failure would tell the caller the old destination survived.
    TempFileRegistry::Remove(from);
    return true;
}
