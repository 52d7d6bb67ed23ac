#pragma once

#include <wx/filesys.h>

// Serves "http:" addresses of the virtual file system with a bounded wait, in place of the
// toolkit's own handler, which waits 60 s per read and dispatches events while it waits.
class HttpFsHandler : public wxFileSystemHandler
{
public:
    bool CanOpen(const wxString& location) override;
    wxFSFile* OpenFile(wxFileSystem& fs, const wxString& location) override;

    // Replaces every other handler of "http:" with this one. Call once, after the toolkit's
    // modules are up; later calls do nothing.
    static void Install();

    // Whole time allowed for connecting and reading one document.
    static long GetTimeoutSeconds();
    static void SetTimeoutSeconds(long seconds);
};
