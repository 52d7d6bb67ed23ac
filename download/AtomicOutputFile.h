#pragma once

#include <wx/string.h>

#include <cstdio>
#include <memory>
#include <string>

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
    void Fail(int errorCode);
    void Discard();

    wxString finalPath;
    wxString partPath;
    // The C library's spelling of the two paths, kept so no conversion can fail late.
    std::string narrowFinal;
    std::string narrowPart;
    FILE* file = nullptr;
    // Owned here rather than by stdio, which would otherwise pick its own, smaller size.
    std::unique_ptr<char[]> buffer;
    wxString error;
};
