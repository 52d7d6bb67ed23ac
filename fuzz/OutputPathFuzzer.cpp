// Output naming from arbitrary titles, inside a folder of its own.
#include "fuzz/FuzzTargetSupport.h"
#include "fuzz/ParserInvariants.h"

#include <wx/filename.h>

#include <cstdio>
#include <cstdlib>

namespace
{
wxString folder;

void RemoveFolder()
{
    wxFileName::Rmdir(folder, wxPATH_RMDIR_RECURSIVE);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzTargetSupport::InitialiseToolkit();
    // Fresh once per process, so no file of an earlier run can make a name look taken.
    char pattern[] = "/tmp/norvik-fuzz-names-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made)
    {
        std::perror("cannot make the folder for output names");
        std::exit(EXIT_FAILURE);
    }
    folder = made;
    std::atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzTargetSupport::AbortIfBroken(ParserInvariants::CheckOutputPathInput(data, size, folder));
    return 0;
}
