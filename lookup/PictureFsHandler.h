#pragma once

#include <wx/filesys.h>

#include <cstddef>

// Serves the preview's picture: "picture:" followed by an http address. The document is
// handed on only when its first bytes say it is a PNG, JPEG or GIF picture, the formats the
// program decodes; anything else never reaches a decoder, whatever its address or content
// type claims.
class PictureFsHandler : public wxFileSystemHandler
{
public:
    // What the preview page puts before a picture's address.
    static const char* const kPrefix;

    bool CanOpen(const wxString& location) override;
    wxFSFile* OpenFile(wxFileSystem& fs, const wxString& location) override;

    // The MIME type named by a picture's first bytes, or empty for any other document.
    static wxString TypeBySignature(const unsigned char* data, size_t size);
};
