#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

// The HTTP library's view of one connection whose first bytes were already read (by the
// HeadGate): it hands those out first, then reads the socket, each wait bounded as the
// library's own socket stream bounds it.
class HeadStream : public httplib::Stream
{
public:
    HeadStream(int socket, std::string received, std::chrono::milliseconds readTimeout,
               std::chrono::milliseconds writeTimeout);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return sock; }

private:
    const int sock;
    std::string head;
    std::size_t headRead = 0;
    const std::chrono::milliseconds readLimit;
    const std::chrono::milliseconds writeLimit;
};
