#include "download/MoveIntoPlace.h"

#include "download/AtomicOutputFile.h"
#include "download/NewFileMode.h"

#include <wx/log.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Big blocks make copying a large video between disks about as fast as the disks allow.
constexpr size_t kCopyBlockSize = 1 << 20;

// Copies from into a new file at to, which appears only when the copy is whole.
bool CopyIntoPlace(const wxString& from, const wxString& to, wxString& error)
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
} // namespace

bool MoveIntoPlace(const wxString& from, const wxString& to, wxString& error)
{
    // The source is a temporary file that only its owner may read; in place, it is a file
    // like any other. Should its mode not change, the copy below makes a new file instead.
    const bool modeSet = chmod(from.fn_str(), NewFileMode()) == 0;
    if (modeSet && std::rename(from.fn_str(), to.fn_str()) == 0)
        return true;
    if (modeSet && errno != EXDEV)
    {
        error = wxSysErrorMsgStr(errno);
        return false;
    }
    if (!CopyIntoPlace(from, to, error))
        return false;
    // The new file is in place by now, so a source that cannot be removed is litter, not a
    // failed move: reporting failure would tell the caller the old destination survived.
    unlink(from.fn_str());
    return true;
}
