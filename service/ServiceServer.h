#pragma once

#include "HeadGate.h"

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>

// cpp-httplib's server with what the library lacks for a service other programs can reach:
// a listening queue as long as the system allows (the library's 5 dropped a burst of
// connections, retried a second later), and each request's head read by a HeadGate within
// its limits before the library parses it. Every connection carries one request, so every
// request passes the gate.
class ServiceServer : public httplib::Server
{
public:
    struct Limits
    {
        HeadGate::Limits head;
        std::chrono::milliseconds readLimit{0};
        std::chrono::milliseconds writeLimit{0};
    };

    explicit ServiceServer(Limits given) : limits(given), gate(given.head) {}

    // Called after binding; listening again on a listening socket only changes its queue.
    bool WidenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }

private:
    bool process_and_close_socket(socket_t sock) override;

    const Limits limits;
    HeadGate gate;
};
