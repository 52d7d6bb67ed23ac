#pragma once

#include "download/OutputNames.h"

#include <wx/string.h>

#include <cstdio>
#include <memory>
#include <string>

// A new file written under a temporary name in the folder of its final path and put there by
// one rename at the end, so no final name ever shows a part. The rename replaces nothing: the
// file takes the first of its names that is free then. Until then only its owner may read
// it. Destroyed without Commit, it removes what it wrote.
class AtomicOutputFile
{
public:
    explicit AtomicOutputFile(const OutputNames& names);
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    // False when the temporary file could not be made; GetError tells why.
    bool IsOk() const { return file != nullptr; }
    FILE* GetFile() const { return file; }
    const wxString& GetPartPath() const { return partPath; }

    // Flushes, closes and renames to the first free name, with the mode of a new file. False
    // on any failure, with the partial file removed and GetError set.
    bool Commit();
    // The name Commit used; empty before.
    const wxString& GetFinalPath() const { return finalPath; }
    // The system's text for the last failure.
    const wxString& GetError() const { return error; }

private:
    void Fail(int errorCode);
    void Discard();

    OutputNames names;
    wxString finalPath;
    wxString partPath;
    // The C library's spelling of the part's path, kept so no conversion can fail late.
    std::string narrowPart;
    FILE* file = nullptr;
    // Owned here rather than by stdio, which would otherwise pick its own, smaller size.
    std::unique_ptr<char[]> buffer;
    wxString error;
};
