#include "lookup/LookupRequest.h"

#include "lookup/HttpFsHandler.h"

#include <curl/curl.h>

#include <string>

namespace
{
// The longest the transfer's wait sleeps before it looks at the transfer again; a cancel
// wakes it at once.
constexpr int kPollMs = 1000;
// Replies of 400 and above count as "cannot open", as with the virtual file system.
constexpr long kFirstErrorStatus = 400;
const char* const kUserAgent = "Norvik/2.0";

struct Body
{
    std::string bytes;
    bool tooLong = false;
};

size_t AppendBody(char* data, size_t size, size_t count, void* userdata)
{
    auto* body = static_cast<Body*>(userdata);
    const size_t bytes = size * count;
    if (body->bytes.size() + bytes > LookupRequest::kMostReplyBytes)
    {
        body->tooLong = true;
        // Fewer bytes taken than offered ends the transfer with an error.
        return 0;
    }
    body->bytes.append(data, bytes);
    return bytes;
}
} // namespace

LookupRequest::LookupRequest(const wxString& address, Done done)
    : address(address), done(std::move(done)), thread([this] { Run(); })
{
}

LookupRequest::~LookupRequest()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        cancelled.store(true);
        if (multi)
            curl_multi_wakeup(static_cast<CURLM*>(multi));
    }
    thread.join();
}

void LookupRequest::Run()
{
    CURLM* transfers = curl_multi_init();
    CURL* curl = curl_easy_init();
    if (!transfers || !curl)
    {
        curl_easy_cleanup(curl);
        curl_multi_cleanup(transfers);
        if (!cancelled.load())
            done(FetchOutcome::NotOpened, wxString());
        return;
    }
    Body body;
    const wxScopedCharBuffer url = address.utf8_str();
    curl_easy_setopt(curl, CURLOPT_URL, url.data());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, HttpFsHandler::GetTimeoutSeconds());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // A cancelled request must not wait for a name lookup still running in its own thread.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_multi_add_handle(transfers, curl);
    {
        std::lock_guard<std::mutex> guard(lock);
        multi = transfers;
    }

    CURLcode result = CURLE_ABORTED_BY_CALLBACK;
    int running = 1;
    while (!cancelled.load() && running > 0)
    {
        if (curl_multi_perform(transfers, &running) != CURLM_OK)
            break;
        if (running > 0)
            curl_multi_poll(transfers, nullptr, 0, kPollMs, nullptr);
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(transfers, &left))
    {
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    {
        std::lock_guard<std::mutex> guard(lock);
        multi = nullptr;
    }
    curl_multi_remove_handle(transfers, curl);
    curl_easy_cleanup(curl);
    curl_multi_cleanup(transfers);

    if (cancelled.load())
        return;
    if (result != CURLE_OK || status >= kFirstErrorStatus || body.tooLong)
    {
        done(FetchOutcome::NotOpened, wxString());
        return;
    }
    done(FetchOutcome::Read, wxString(body.bytes.data(), wxConvUTF8, body.bytes.size()));
}
