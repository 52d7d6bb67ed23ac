#include "lookup/LookupRequest.h"

#include "lookup/DocumentRequest.h"

#include <curl/curl.h>

namespace
{
// The longest the transfer's wait sleeps before it looks at the transfer again; a cancel
// wakes it at once.
constexpr int kPollMs = 1000;
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
    DocumentRequest request(address);
    CURLM* transfers = curl_multi_init();
    if (!transfers || !request.Handle())
    {
        curl_multi_cleanup(transfers);
        if (!cancelled.load())
            done(FetchOutcome::NotOpened, wxString());
        return;
    }
    curl_multi_add_handle(transfers, request.Handle());
    {
        std::lock_guard<std::mutex> guard(lock);
        multi = transfers;
    }

    int result = CURLE_ABORTED_BY_CALLBACK;
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
    {
        std::lock_guard<std::mutex> guard(lock);
        multi = nullptr;
    }
    curl_multi_remove_handle(transfers, request.Handle());
    curl_multi_cleanup(transfers);

    if (cancelled.load())
        return;
    if (!request.Succeeded(result))
    {
        done(FetchOutcome::NotOpened, wxString());
        return;
    }
    const std::string& body = request.Body();
    done(FetchOutcome::Read, wxString(body.data(), wxConvUTF8, body.size()));
}
