// A static file server on a free loopback port, fast enough that the clients measured
// against each other are the bottleneck, not it: one thread per connection, the body sent
// with sendfile(2) straight from the page cache, and a listen queue deep enough for 32
// clients connecting at once (a short queue drops connection attempts, and a client waits a
// second before it tries again). It answers a single byte range ("Range: bytes=FIRST-LAST" or
// "bytes=FIRST-") with 206, and several requests one after another on one connection, as the
// media servers do that the service fetches from in ranges. Prints "port N" once listening and
// runs until its standard input closes, so it cannot outlive the script that started it.
//
// bench_file_server FOLDER
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace
{
constexpr int kListenBacklog = 256;
// Large enough for any request line and headers curl or libcurl send.
constexpr size_t kMaxRequestBytes = 16 * 1024;
constexpr size_t kSendBlockBytes = 4 << 20;
// A client that stops reading for this long is given up.
constexpr time_t kSendTimeoutSeconds = 60;

bool SendAll(int socketFd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size())
    {
        const ssize_t done = send(socketFd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        sent += size_t(done);
    }
    return true;
}

void Reply(int socketFd, const char* status)
{
    SendAll(socketFd, std::string("HTTP/1.1 ") + status +
                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

// The file name of "GET /name HTTP/1.1", empty when the request is anything else.
std::string RequestedName(const std::string& request)
{
    const std::string method = "GET /";
    if (request.compare(0, method.size(), method) != 0)
        return std::string();
    const size_t end = request.find_first_of(" ?", method.size());
    if (end == std::string::npos)
        return std::string();
    const std::string name = request.substr(method.size(), end - method.size());
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return std::string();
    return name;
}

// The next request's head from the connection into head; the bytes after it stay in pending
// for the request that follows. False when the client closed or sent a head too large.
bool ReadHead(int socketFd, std::string& pending, std::string& head)
{
    char chunk[4096];
    std::size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos)
    {
        if (pending.size() >= kMaxRequestBytes)
            return false;
        const ssize_t got = recv(socketFd, chunk, sizeof(chunk), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        pending.append(chunk, size_t(got));
    }
    head = pending.substr(0, end + 4);
    pending.erase(0, end + 4);
    return true;
}

// The single range a head asks for, fitted to the file; false when it asks for none.
bool RangeOf(const std::string& head, off_t size, off_t& first, off_t& last)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const std::string field = "\r\nrange: bytes=";
    const size_t at = lower.find(field);
    if (at == std::string::npos)
        return false;
    long long from = 0;
    long long to = -1;
    if (std::sscanf(lower.c_str() + at + field.size(), "%lld-%lld", &from, &to) < 1)
        return false;
    first = off_t(from);
    last = to < 0 || off_t(to) >= size ? size - 1 : off_t(to);
    return true;
}

void Serve(int socketFd, const std::string& root)
{
    timeval limit = {kSendTimeoutSeconds, 0};
    setsockopt(socketFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    setsockopt(socketFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    std::string pending;
    std::string request;
    while (ReadHead(socketFd, pending, request))
    {
        const std::string name = RequestedName(request);
        const int fileFd = name.empty() ? -1 : open((root + "/" + name).c_str(), O_RDONLY);
        struct stat info;
        if (fileFd < 0 || fstat(fileFd, &info) != 0 || !S_ISREG(info.st_mode))
        {
            Reply(socketFd, name.empty() ? "400 Bad Request" : "404 Not Found");
            if (fileFd >= 0)
                close(fileFd);
            break;
        }
        const off_t size = info.st_size;
        off_t offset = 0;
        off_t last = size - 1;
        std::string status = "200 OK";
        std::string range;
        if (RangeOf(request, size, offset, last))
        {
            if (offset >= size)
            {
                SendAll(socketFd, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                                      std::to_string(size) + "\r\nContent-Length: 0\r\n\r\n");
                close(fileFd);
                continue;
            }
            status = "206 Partial Content";
            range = "Content-Range: bytes " + std::to_string(offset) + "-" + std::to_string(last) +
                    "/" + std::to_string(size) + "\r\n";
        }
        const off_t end = last + 1;
        bool whole = SendAll(
            socketFd, "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\n" +
                          range + "Content-Length: " + std::to_string(end - offset) + "\r\n\r\n");
        while (whole && offset < end)
        {
            const size_t block = size_t(std::min<off_t>(end - offset, off_t(kSendBlockBytes)));
            const ssize_t sent = sendfile(socketFd, fileFd, &offset, block);
            if (sent < 0 && errno == EINTR)
                continue;
            whole = sent > 0;
        }
        close(fileFd);
        if (!whole)
            break;
    }
    close(socketFd);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const int listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (listenFd < 0 || bind(listenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listenFd, kListenBacklog) != 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    {
        std::perror("bench_file_server: no loopback port");
        return 1;
    }
    std::thread acceptor(
        [listenFd, &root]
        {
            for (;;)
            {
                const int client = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0)
                {
                    if (errno == EINTR || errno == ECONNABORTED)
                        continue;
                    return;
                }
                std::thread(Serve, client, root).detach();
            }
        });
    std::printf("port %d\n", int(ntohs(address.sin_port)));
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line))
    {
    }
    // Ends the accept loop; connections still being served end with the process.
    shutdown(listenFd, SHUT_RDWR);
    acceptor.join();
    close(listenFd);
    return 0;
}
