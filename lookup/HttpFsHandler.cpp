#include "lookup/HttpFsHandler.h"

#include "lookup/PictureFsHandler.h"

#include <curl/curl.h>
#include <wx/mstream.h>

#include <atomic>
#include <string>

namespace
{
// About long enough for a slow service, short enough that a stuck one does not hold the window.
constexpr long kDefaultTimeoutSeconds = 15;
// Replies of 400 and above count as "cannot open", as with the toolkit's own handler.
constexpr long kFirstErrorStatus = 400;
const char* const kUserAgent = "Norvik/2.0";
// A record's or a thumbnail's address comes from the service: libcurl would otherwise speak
// any protocol it knows (gopher writes a command line to any port), here and on a redirect.
const char* const kAllowedProtocols = "http,https";

struct Reply
{
    std::string body;
    // Set when the reply went past the limit, so the transfer was cut there on purpose.
    bool tooLong = false;
};

// Written by whoever configures the handler (start-up, tests), read by each request.
std::atomic<long> timeoutSeconds{kDefaultTimeoutSeconds};

size_t AppendBody(char* data, size_t size, size_t count, void* userdata)
{
    auto* reply = static_cast<Reply*>(userdata);
    const size_t bytes = size * count;
    // An endless or huge reply would take all memory and hold the window while it is read:
    // anything longer than the limit is no document of ours, and returning short ends the
    // transfer.
    if (reply->body.size() + bytes > size_t(HttpFsHandler::kMaxDocumentBytes))
    {
        reply->tooLong = true;
        return 0;
    }
    reply->body.append(data, bytes);
    return bytes;
}

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
    CURL* curl = curl_easy_init();
    if (!curl)
        return false;
    Reply reply;
    const wxScopedCharBuffer url = address.utf8_str();
    curl_easy_setopt(curl, CURLOPT_URL, url.data());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds.load());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    // A reply that announces more than the limit is refused before its body is read.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxDocumentBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    mimeType = contentType ? wxString::FromUTF8(contentType).BeforeFirst(';').Trim() : wxString();
    curl_easy_cleanup(curl);
    if (result != CURLE_OK || reply.tooLong || status >= kFirstErrorStatus)
        return false;
    body.swap(reply.body);
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
    return timeoutSeconds.load();
}

void HttpFsHandler::SetTimeoutSeconds(long seconds)
{
    timeoutSeconds.store(seconds);
}
