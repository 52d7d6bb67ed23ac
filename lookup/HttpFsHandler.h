#pragma once

#include "lookup/DocumentRequest.h"

#include <wx/filesys.h>

#include <string>

// Serves "http:" addresses of the virtual file system with a bounded wait, in place of the
// toolkit's own handler, which waits 60 s per read and dispatches events while it waits.
class HttpFsHandler : public wxFileSystemHandler
{
public:
    bool CanOpen(const wxString& location) override;
    wxFSFile* OpenFile(wxFileSystem& fs, const wxString& location) override;

    // Replaces every other handler of "http:" with this one, and adds the one that serves
    // the preview's picture. Call once, after the toolkit's modules are up; later calls do
    // nothing.
    static void Install();

    // Longest document read: a longer or endless reply fails as one that cannot be opened.
    static constexpr long kMaxDocumentBytes = DocumentRequest::kMaxDocumentBytes;

    // Reads one document over http or https (no other protocol, redirects included) with the
    // bounds above; false for a failed transfer, an error status or a reply past the limit.
    // mimeType is the reply's content type without parameters, or empty.
    static bool Fetch(const wxString& address, std::string& body, wxString& mimeType);
    // A stream of its own copy of the bytes.
    static wxInputStream* MakeStream(const std::string& body);

    // Whole time allowed for connecting and reading one document.
    static long GetTimeoutSeconds();
    static void SetTimeoutSeconds(long seconds);
};
