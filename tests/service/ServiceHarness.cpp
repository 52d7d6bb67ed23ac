#include "ServiceHarness.h"

#include <curl/curl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{
constexpr auto kStopLimit = std::chrono::seconds(3);
constexpr auto kReapPollInterval = std::chrono::milliseconds(5);
constexpr int kPollSliceMs = 50;
constexpr std::size_t kReadBlock = 4096;
constexpr int kExecFailed = 127;
const char* const kListening = "listening on ";

int RemainingMs(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(std::min<long long>(left, kPollSliceMs)) : 0;
}

// Starts the service with stdout into a pipe and stderr into a file, which never fills up.
pid_t Spawn(const std::vector<std::string>& args, int& outputPipe, const std::string& errorFile,
            const std::string& workingFolder = {},
            const std::map<std::string, std::string>& environment = {})
{
    // Made before the fork: the child of a process with threads may not allocate.
    std::vector<std::string> variables;
    for (char** v = environ; *v; ++v)
    {
        const std::string variable = *v;
        if (!environment.count(variable.substr(0, variable.find('='))))
            variables.push_back(variable);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& v : variables)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::vector<std::string> all{NORVIK_SERVICE_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0)
    {
        const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, S_IRUSR | S_IWUSR);
        dup2(fds[1], STDOUT_FILENO);
        if (err >= 0)
            dup2(err, STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        if (!workingFolder.empty() && chdir(workingFolder.c_str()) != 0)
            _exit(kExecFailed);
        execve(NORVIK_SERVICE_EXE, argv.data(), envp.data());
        _exit(kExecFailed);
    }
    close(fds[1]);
    if (child < 0)
    {
        close(fds[0]);
        return -1;
    }
    outputPipe = fds[0];
    return child;
}

// Reads what is available before the deadline; false at end of file or the deadline.
bool ReadSome(int fd, std::string& into, Clock::time_point deadline)
{
    while (Clock::now() < deadline)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, RemainingMs(deadline)) <= 0)
            continue;
        char buffer[kReadBlock];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        into.append(buffer, std::size_t(n));
        return true;
    }
    return false;
}

// The exit code once the child ended within the limit, else kills it and gives -1.
int Reap(pid_t child, Clock::time_point deadline)
{
    int status = 0;
    while (Clock::now() < deadline)
    {
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(kReapPollInterval);
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

void AddHeaderLine(HttpReply& reply, const std::string& line)
{
    const auto colon = line.find(':');
    if (colon != std::string::npos)
        reply.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
}

std::size_t CollectBody(char* data, std::size_t size, std::size_t count, void* reply)
{
    static_cast<HttpReply*>(reply)->body.append(data, size * count);
    return size * count;
}

std::size_t CollectHeader(char* data, std::size_t size, std::size_t count, void* reply)
{
    AddHeaderLine(*static_cast<HttpReply*>(reply), std::string(data, size * count));
    return size * count;
}
} // namespace

std::string TempName(const char* pattern)
{
    std::string name = (fs::temp_directory_path() / pattern).string();
    const int fd = mkstemp(name.data());
    if (fd >= 0)
        close(fd);
    return name;
}

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "norvik-service-test-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    if (!path.empty())
        fs::remove_all(path, ec);
}

std::string TempFolder::Write(const std::string& name, const std::string& content) const
{
    const fs::path file = path / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
}

std::string ReadFileBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool ServiceUnderTest::Start(const std::vector<std::string>& args)
{
    Stop();
    std::error_code ec;
    if (!errorFile.empty())
        fs::remove(errorFile, ec);
    errorFile = TempName("norvik-service-err-XXXXXX");
    std::vector<std::string> all{"--port", "0"};
    // Tests never reach the network: the resolver runs only where a test asks for one.
    if (std::find(args.begin(), args.end(), "--resolver") == args.end())
        all.insert(all.end(), {"--resolver", "none"});
    all.insert(all.end(), args.begin(), args.end());
    pid = Spawn(all, output, errorFile, workingFolder, environment);
    if (pid < 0)
        return false;
    const auto deadline = Clock::now() + kStartLimit;
    std::string seen;
    while (ReadSome(output, seen, deadline))
    {
        const auto at = seen.find(kListening);
        const auto end = at == std::string::npos ? at : seen.find('\n', at);
        if (end == std::string::npos)
            continue;
        baseUrl = seen.substr(at + std::string(kListening).size(),
                              end - at - std::string(kListening).size());
        port = std::atoi(baseUrl.substr(baseUrl.rfind(':') + 1).c_str());
        return port > 0;
    }
    return false;
}

ServiceUnderTest::~ServiceUnderTest()
{
    Stop();
    std::error_code ec;
    if (!errorFile.empty())
        fs::remove(errorFile, ec);
}

int ServiceUnderTest::Stop()
{
    int code = -1;
    if (pid > 0)
    {
        kill(pid, SIGTERM);
        code = Reap(pid, Clock::now() + kStopLimit);
        pid = -1;
    }
    if (output >= 0)
    {
        close(output);
        output = -1;
    }
    return code;
}

std::string ServiceUnderTest::Path() const
{
    const auto afterScheme = baseUrl.find("//");
    const auto slash =
        afterScheme == std::string::npos ? afterScheme : baseUrl.find('/', afterScheme + 2);
    return slash == std::string::npos ? std::string() : baseUrl.substr(slash);
}

std::string ServiceUnderTest::ErrorOutput() const
{
    return ReadFileBytes(errorFile);
}

Finished RunToExit(const std::vector<std::string>& args)
{
    Finished finished;
    const std::string errorFile = TempName("norvik-service-err-XXXXXX");
    int output = -1;
    const pid_t child = Spawn(args, output, errorFile);
    if (child < 0)
        return finished;
    const auto deadline = Clock::now() + kStartLimit;
    while (ReadSome(output, finished.out, deadline))
    {
    }
    close(output);
    finished.code = Reap(child, deadline);
    finished.exited = finished.code >= 0;
    finished.err = ReadFileBytes(errorFile);
    fs::remove(errorFile);
    return finished;
}

std::string HttpReply::Header(const std::string& lowerName) const
{
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
}

HttpReply HttpGet(const std::string& url, const std::vector<std::string>& requestHeaders,
                  std::chrono::milliseconds limit)
{
    HttpReply reply;
    CURL* curl = curl_easy_init();
    if (!curl)
        return reply;
    curl_slist* list = nullptr;
    for (const std::string& h : requestHeaders)
        list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(limit.count()));
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (curl_easy_perform(curl) == CURLE_OK)
    {
        reply.received = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

int ConnectLoopback(int port)
{
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sock >= 0 && connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        close(sock);
        return -1;
    }
    return sock;
}

HttpReply RawExchange(int port, const std::string& request)
{
    HttpReply reply;
    const int sock = ConnectLoopback(port);
    if (sock < 0)
        return reply;
    std::string raw;
    bool closedByServer = false;
    if (send(sock, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
    {
        const auto deadline = Clock::now() + kRequestLimit;
        while (ReadSome(sock, raw, deadline))
        {
        }
        closedByServer = Clock::now() < deadline;
    }
    close(sock);
    const auto headerEnd = raw.find("\r\n\r\n");
    if (!closedByServer || headerEnd == std::string::npos)
        return reply;
    std::istringstream head(raw.substr(0, headerEnd));
    std::string line;
    std::getline(head, line);
    std::istringstream statusLine(line);
    std::string version;
    statusLine >> version >> reply.status;
    while (std::getline(head, line))
        AddHeaderLine(reply, line);
    reply.body = raw.substr(headerEnd + std::string("\r\n\r\n").size());
    reply.received = true;
    return reply;
}

std::map<std::string, std::string> ReplyValues(const std::string& body)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(body);
    std::string line;
    while (std::getline(lines, line))
    {
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            values[line.substr(0, colon)] = line.substr(colon + 1);
    }
    return values;
}
