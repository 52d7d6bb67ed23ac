#pragma once

#include "lookup/UrlFetcher.h"

#include <wx/string.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// One request to the metadata service, read on a thread of its own so the window keeps
// answering while the service's resolver works (which takes seconds for a real page). The
// whole document is handed to done, on that thread, unless the request was cancelled first.
// Destroying the object cancels it and waits for the thread, which takes a few milliseconds:
// the wait of the transfer is woken, not polled.
class LookupRequest
{
public:
    // Called once on the request's own thread: outcome Read with the whole text, or
    // NotOpened (refused, an error status, too slow, too long: DocumentRequest's bounds).
    using Done = std::function<void(FetchOutcome outcome, const wxString& text)>;

    LookupRequest(const wxString& address, Done done);
    ~LookupRequest();
    LookupRequest(const LookupRequest&) = delete;
    LookupRequest& operator=(const LookupRequest&) = delete;

    const wxString& Address() const { return address; }

private:
    void Run();

    const wxString address;
    const Done done;
    // Guards multi: the owner wakes the transfer's wait through it while the request's thread
    // may be about to free it.
    std::mutex lock;
    // The transfer's wait (a CURLM), while it lasts; null before and after.
    void* multi = nullptr;
    // Set by the owner's thread to end the transfer; read by the request's thread.
    std::atomic<bool> cancelled{false};
    // Started last, once every member it reads exists.
    std::thread thread;
};
