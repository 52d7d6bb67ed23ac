#include "lookup/UrlFetcher.h"

#include "lookup/HttpFsHandler.h"

#include <wx/filesys.h>
#include <wx/sstream.h>
#include <wx/utils.h>

#include <memory>

namespace
{
constexpr int kPollSeconds = 1;
} // namespace

FetchOutcome FetchUrlText(const wxString& address, wxString& text)
{
    wxFileSystem fs;
    std::unique_ptr<wxFSFile> file(fs.OpenFile(address, wxFS_READ));
    if (!file)
        return FetchOutcome::NotOpened;
    wxInputStream* in = file->GetStream();
    if (!in)
        return FetchOutcome::NoStream;

    // A stream that is slow to become readable is waited for, but never longer than a
    // request may take as a whole: a stuck source must not hold the window.
    long waitsLeft = HttpFsHandler::GetTimeoutSeconds() / kPollSeconds;
    wxString document;
    wxStringOutputStream out(&document, wxConvUTF8);
    while (!in->Eof())
    {
        if (in->CanRead())
        {
            in->Read(out);
            continue;
        }
        // Nothing to read and no error either means the end of a stream that never says Eof.
        if (in->GetLastError() != wxSTREAM_NO_ERROR || in->GetLength() == 0)
            break;
        if (waitsLeft-- <= 0)
            return FetchOutcome::NotOpened;
        wxSleep(kPollSeconds);
    }
    text = document;
    return FetchOutcome::Read;
}
