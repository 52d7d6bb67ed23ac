#include "lookup/HttpFsHandler.h"

#include "lookup/DocumentRequest.h"
#include "lookup/PictureFsHandler.h"

#include <curl/curl.h>
#include <wx/mstream.h>

namespace
{
// Exposes the toolkit's handler list, which only derived classes may touch.
class HandlerList : public wxFileSystem
{
public:
    static wxList& Get() { return m_Handlers; }
};
} // namespace

bool HttpFsHandler::CanOpen(const wxString& location)
{
    return GetProtocol(location) == "http";
}

wxFSFile* HttpFsHandler::OpenFile(wxFileSystem&, const wxString& location)
{
    // The whole address but its anchor: the toolkit's GetRightLocation() would cut at the
    // port's colon, taking it for a nested protocol.
    const wxString address = location.BeforeFirst('#');
    std::string body;
    wxString mimeType;
    if (!Fetch(address, body, mimeType))
        return nullptr;
    if (mimeType.empty())
        mimeType = GetMimeTypeFromExt(location);
    return new wxFSFile(MakeStream(body), address, mimeType, GetAnchor(location),
                        wxDateTime::Now());
}

bool HttpFsHandler::Fetch(const wxString& address, std::string& body, wxString& mimeType)
{
    DocumentRequest request(address);
    if (!request.Handle())
        return false;
    const CURLcode result = curl_easy_perform(request.Handle());
    mimeType = request.MimeType();
    if (!request.Succeeded(result))
        return false;
    body.swap(request.Body());
    return true;
}

wxInputStream* HttpFsHandler::MakeStream(const std::string& body)
{
    // The input stream copies the bytes, so it stays valid after the call; an empty body
    // has nothing to copy.
    static const char kNothing[] = "";
    if (body.empty())
        return new wxMemoryInputStream(kNothing, 0);
    wxMemoryOutputStream copy;
    copy.Write(body.data(), body.size());
    return new wxMemoryInputStream(copy);
}

void HttpFsHandler::Install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    // Every handler that claims "http:" must go: the file system tries each in turn, so a
    // request that timed out here would be made again, with the long wait, by the next one.
    const wxString probe = "http://127.0.0.1/";
    wxList& handlers = HandlerList::Get();
    for (wxList::compatibility_iterator node = handlers.GetFirst(); node;)
    {
        wxList::compatibility_iterator next = node->GetNext();
        auto* handler = static_cast<wxFileSystemHandler*>(node->GetData());
        // The toolkit's modules own their handlers and delete them at exit.
        if (handler->CanOpen(probe))
            wxFileSystem::RemoveHandler(handler);
        node = next;
    }
    wxFileSystem::AddHandler(new HttpFsHandler);
    wxFileSystem::AddHandler(new PictureFsHandler);
}

long HttpFsHandler::GetTimeoutSeconds()
{
    return DocumentRequest::GetTimeoutSeconds();
}

void HttpFsHandler::SetTimeoutSeconds(long seconds)
{
    DocumentRequest::SetTimeoutSeconds(seconds);
}
