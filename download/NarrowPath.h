#pragma once

#include <wx/string.h>

#include <string>

// A path in the encoding of the file system's names, for the system calls; empty when the
// path cannot be written in it.
inline std::string NarrowPath(const wxString& path)
{
    const wxCharBuffer converted = path.fn_str();
    return std::string(converted.data(), converted.length());
}
