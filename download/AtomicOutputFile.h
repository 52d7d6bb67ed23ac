#pragma once

#include <wx/string.h>

#include <cstdio>

// A new file written under a temporary name in the folder of its final path and put there by
// one rename at the end, so the final path shows the old file or the whole new one, never
// a part. Destroyed without Commit, it removes what it wrote.
class AtomicOutputFile
{
public:
    explicit AtomicOutputFile(const wxString& finalPath);
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    // False when the temporary file could not be made; GetError tells why.
    bool IsOk() const { return file != nullptr; }
    FILE* GetFile() const { return file; }
    const wxString& GetPartPath() const { return partPath; }

    // Flushes, closes and renames over the final path. False on any failure, with the
    // partial file removed and GetError set.
    bool Commit();
    // The system's text for the last failure.
    const wxString& GetError() const { return error; }

private:
    wxString finalPath;
    wxString partPath;
    FILE* file = nullptr;
    wxString error;
};
