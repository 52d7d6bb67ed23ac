#pragma once

#include <httplib.h>

#include <sys/socket.h>

// cpp-httplib's server with a listening queue as long as the system allows. The library
// listens with a queue of 5: a burst of connections beyond it (a browser, several downloads
// and lookups at once) has its connection attempts dropped and retried a second or more later.
class ServiceServer : public httplib::Server
{
public:
    // Called after binding; listening again on a listening socket only changes its queue.
    bool WidenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};
