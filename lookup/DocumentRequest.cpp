#include "lookup/DocumentRequest.h"

#include <curl/curl.h>

#include <atomic>

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

std::atomic<long> timeoutSeconds{kDefaultTimeoutSeconds};
} // namespace

DocumentRequest::DocumentRequest(const wxString& address)
    : curl(curl_easy_init()), url(address.utf8_str().data())
{
    if (!curl)
        return;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A cancelled lookup must not wait for a name lookup still running in its own thread.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeoutSeconds.load());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    // A reply that announces more than the limit is refused before its body is read.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxDocumentBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
}

DocumentRequest::~DocumentRequest()
{
    curl_easy_cleanup(curl);
}

size_t DocumentRequest::AppendBody(char* data, size_t size, size_t count, void* userdata)
{
    auto* request = static_cast<DocumentRequest*>(userdata);
    const size_t bytes = size * count;
    // An endless or huge reply would take all memory: anything longer than the limit is no
    // document of ours, and taking fewer bytes than offered ends the transfer.
    if (request->body.size() + bytes > size_t(kMaxDocumentBytes))
    {
        request->tooLong = true;
        return 0;
    }
    request->body.append(data, bytes);
    return bytes;
}

bool DocumentRequest::Succeeded(int result) const
{
    if (!curl || result != CURLE_OK || tooLong)
        return false;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status < kFirstErrorStatus;
}

wxString DocumentRequest::MimeType() const
{
    char* contentType = nullptr;
    if (curl)
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    return contentType ? wxString::FromUTF8(contentType).BeforeFirst(';').Trim() : wxString();
}

long DocumentRequest::GetTimeoutSeconds()
{
    return timeoutSeconds.load();
}

void DocumentRequest::SetTimeoutSeconds(long seconds)
{
    timeoutSeconds.store(seconds);
}
