#include "lookup/HttpFsHandler.h"

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

// Written by whoever configures the handler (start-up, tests), read by each request.
std::atomic<long> timeoutSeconds{kDefaultTimeoutSeconds};

size_t AppendBody(char* data, size_t size, size_t count, void* userdata)
{
    static_cast<std::string*>(userdata)->append(data, size * count);
    return size * count;
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
    CURL* curl = curl_easy_init();
    if (!curl)
        return nullptr;
    std::string body;
    const wxScopedCharBuffer url = address.utf8_str();
    curl_easy_setopt(curl, CURLOPT_URL, url.data());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds.load());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    char* contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    const wxString mimeType = contentType ? wxString::FromUTF8(contentType).BeforeFirst(';').Trim()
                                          : GetMimeTypeFromExt(location);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK || status >= kFirstErrorStatus)
        return nullptr;
    // The input stream copies the bytes, so it stays valid after this call; an empty body
    // has nothing to copy.
    static const char kNothing[] = "";
    wxMemoryInputStream* stream = nullptr;
    if (body.empty())
        stream = new wxMemoryInputStream(kNothing, 0);
    else
    {
        wxMemoryOutputStream copy;
        copy.Write(body.data(), body.size());
        stream = new wxMemoryInputStream(copy);
    }
    return new wxFSFile(stream, address, mimeType,
                        GetAnchor(location), wxDateTime::Now());
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
}

long HttpFsHandler::GetTimeoutSeconds()
{
    return timeoutSeconds.load();
}

void HttpFsHandler::SetTimeoutSeconds(long seconds)
{
    timeoutSeconds.store(seconds);
}
