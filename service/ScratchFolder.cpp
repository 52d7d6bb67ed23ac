#include "ScratchFolder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

std::unique_ptr<ScratchFolder> ScratchFolder::Make(const std::string& parent,
                                                   const std::string& prefix, std::string& error)
{
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    // mkdtemp makes it readable by its owner alone.
    if (!mkdtemp(pattern.data()))
    {
        error = "cannot make a folder under " + parent + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<ScratchFolder>(new ScratchFolder(pattern));
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
