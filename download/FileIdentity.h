#pragma once

#include "download/NarrowPath.h"

#include <wx/string.h>

#include <sys/stat.h>

// The device and inode of the file at path as "dev:ino", which a rename keeps; empty when
// there is no such file.
inline wxString FileIdentity(const wxString& path)
{
    struct stat info;
    const std::string narrow = NarrowPath(path);
    if (narrow.empty() || stat(narrow.c_str(), &info) != 0)
        return wxString();
    return wxString::Format("%llu:%llu", static_cast<unsigned long long>(info.st_dev),
                            static_cast<unsigned long long>(info.st_ino));
}
