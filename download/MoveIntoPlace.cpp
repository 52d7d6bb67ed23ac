#include "download/MoveIntoPlace.h"

#include "download/AtomicOutputFile.h"
#include "download/FreeNamePlacement.h"
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

bool CopyIntoPlace(const wxString& from, const OutputNames& names, wxString& error,
                   const std::atomic<bool>* stop, wxString* placed)
{
    FILE* source = std::fopen(from.fn_str(), "rb");
    if (!source)
    {
        error = wxSysErrorMsgStr(errno);
        return false;
    }
    AtomicOutputFile target(names);
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
    if (placed)
        *placed = target.GetFinalPath();
    return true;
}

bool MoveIntoPlace(const wxString& from, const OutputNames& names, wxString& error,
                   const std::atomic<bool>* stop, wxString* placed)
{
    wxString used;
    const int moveError = PlaceUnderFreeName(from, names, used);
    if (moveError == 0)
    {
        // Its temporary name is gone: a later clean-up must not look for it.
        TempFileRegistry::Forget(from);
        if (placed)
            *placed = used;
        return true;
    }
    if (moveError != EXDEV)
    {
        error = wxSysErrorMsgStr(moveError);
        return false;
    }
    if (!CopyIntoPlace(from, names, error, stop, placed))
        return false;
    // The new file is in place by now, so a source that cannot be removed is litter, not a
    // failed move: reporting failure would tell the caller the file was not saved.
    TempFileRegistry::Remove(from);
    return true;
}
