// A static file server on a free loopback port, fast enough that the clients measured
// against each other are the bottleneck, not it: one thread per connection, the body sent
// with sendfile(2) straight from the page cache, and a listen queue deep enough for 32
// clients connecting at once (a short queue drops connection attempts, and a client waits a
// second before it tries again). Prints "port N" once listening and runs until its standard
// input closes, so it cannot outlive the script that started it.
//
// bench_file_server FOLDER
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

void Serve(int socketFd, const std::string& root)
{
    timeval limit = {kSendTimeoutSeconds, 0};
    setsockopt(socketFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    setsockopt(socketFd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    std::string request;
    char chunk[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes)
    {
        const ssize_t got = recv(socketFd, chunk, sizeof(chunk), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
        {
            close(socketFd);
            return;
        }
        request.append(chunk, size_t(got));
    }
    const std::string name = RequestedName(request);
    const int fileFd = name.empty() ? -1 : open((root + "/" + name).c_str(), O_RDONLY);
    struct stat info;
    if (fileFd < 0 || fstat(fileFd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        Reply(socketFd, name.empty() ? "400 Bad Request" : "404 Not Found");
        if (fileFd >= 0)
            close(fileFd);
        close(socketFd);
        return;
    }
    const off_t size = info.st_size;
    if (SendAll(socketFd, "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                          "Content-Length: " +
                              std::to_string(size) + "\r\nConnection: close\r\n\r\n"))
    {
        off_t offset = 0;
        while (offset < size)
        {
            const size_t block = size_t(std::min<off_t>(size - offset, off_t(kSendBlockBytes)));
            const ssize_t sent = sendfile(socketFd, fileFd, &offset, block);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                break;
        }
    }
    close(fileFd);
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
