#include "DefaultCatalogue.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string DefaultCatalogue()
{
    // Where the installed demo lies, seen from the installed executable's folder; an
    // installation moved elsewhere as a whole (a package unpacked under another root) still
    // finds its own.
    std::error_code failed;
    const fs::path exe = fs::read_symlink("/proc/self/exe", failed);
    if (!failed)
    {
        const fs::path installed = exe.parent_path() / NORVIK_INSTALLED_CATALOGUE;
        if (fs::is_regular_file(installed, failed))
            return installed.lexically_normal().string();
    }
    return NORVIK_DEMO_CATALOGUE;
}
