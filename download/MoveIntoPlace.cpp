#include "download/MoveIntoPlace.h"

#include "download/AtomicOutputFile.h"
#include "download/FreeNamePlacement.h"
#include "download/TempFileRegistry.h"

#include <wx/log.h>

#include <algorithm>
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

namespace
{
// Copies count bytes, or up to the end when count is kToTheEnd; false with error set on a
// failure or a stop.
constexpr std::uint64_t kToTheEnd = UINT64_MAX;

bool CopyBytes(FILE* source, FILE* target, std::uint64_t count, char* block,
               const std::atomic<bool>* stop, wxString& error)
{
    while (count > 0)
    {
        if (stop && stop->load())
        {
            error = wxSysErrorMsgStr(ECANCELED);
            return false;
        }
        const size_t wanted = size_t(std::min<std::uint64_t>(count, kCopyBlockSize));
        const size_t got = std::fread(block, 1, wanted, source);
        if (got > 0 && std::fwrite(block, 1, got, target) != got)
        {
            error = wxSysErrorMsgStr(errno);
            return false;
        }
        if (got < wanted)
        {
            if (!std::ferror(source))
                return true;
            error = wxSysErrorMsgStr(errno);
            return false;
        }
        if (count != kToTheEnd)
            count -= got;
    }
    return true;
}
} // namespace

bool CopyIntoPlace(const wxString& from, const OutputNames& names, wxString& error,
                   const std::atomic<bool>* stop, wxString* placed, const CopyInsertion* insertion)
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
    if (insertion)
    {
        const std::string& bytes = insertion->bytes;
        ok = CopyBytes(source, target.GetFile(), insertion->at, block.get(), stop, error);
        if (ok && std::fwrite(bytes.data(), 1, bytes.size(), target.GetFile()) != bytes.size())
        {
            error = wxSysErrorMsgStr(errno);
            ok = false;
        }
    }
    ok = ok && CopyBytes(source, target.GetFile(), kToTheEnd, block.get(), stop, error);
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
