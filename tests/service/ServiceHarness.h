#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

// Runs build/norvik-service as a child process and talks HTTP to it, every wait bounded.

constexpr auto kStartLimit = std::chrono::seconds(5);
constexpr auto kRequestLimit = std::chrono::seconds(5);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder
{
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    // Writes a file below the folder, making its parent folders; returns its full path.
    std::string Write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path;
};

std::string ReadFileBytes(const std::filesystem::path& file);
// Makes an empty file from a mkstemp pattern ("name-XXXXXX") in the temporary folder.
std::string TempName(const char* pattern);

class ServiceUnderTest
{
public:
    ServiceUnderTest() = default;
    ~ServiceUnderTest();
    ServiceUnderTest(const ServiceUnderTest&) = delete;
    ServiceUnderTest& operator=(const ServiceUnderTest&) = delete;

    // Starts it on a free port with these further options (and "--resolver none" unless they
    // name a resolver); true once it says it listens.
    bool Start(const std::vector<std::string>& args);
    // The folder the next start runs in; the test's own when empty.
    void RunIn(const std::string& folder) { workingFolder = folder; }
    // An environment variable the next start sets, beside the test's own environment.
    void SetEnvironment(const std::string& name, const std::string& value)
    {
        environment[name] = value;
    }
    pid_t Pid() const { return pid; }
    // Asks it to end and reaps it; its exit code, or -1 when it had to be killed.
    int Stop();

    // "http://127.0.0.1:PORT/SECRET", as the service printed it.
    const std::string& BaseUrl() const { return baseUrl; }
    int Port() const { return port; }
    // The secret part of BaseUrl ("/SECRET", or empty), for requests written by hand.
    std::string Path() const;
    // A Host header the service takes as its own.
    std::string HostHeader() const { return "Host: 127.0.0.1:" + std::to_string(port); }
    // Everything it wrote to its standard error so far.
    std::string ErrorOutput() const;

private:
    pid_t pid = -1;
    int output = -1;
    std::string errorFile;
    std::string workingFolder;
    std::map<std::string, std::string> environment;
    std::string baseUrl;
    int port = 0;
};

struct Finished
{
    bool exited = false; // false: still running at the limit, then killed
    int code = -1;
    std::string out;
    std::string err;
};

// Runs the service with these options (no --port added) to its end.
Finished RunToExit(const std::vector<std::string>& args);

struct HttpReply
{
    bool received = false;
    long status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string Header(const std::string& lowerName) const;
};

HttpReply HttpGet(const std::string& url, const std::vector<std::string>& requestHeaders = {},
                  std::chrono::milliseconds limit = kRequestLimit);

// A socket connected to this port on the loopback address, or -1 when none could be.
int ConnectLoopback(int port);

// Sends the request exactly as written and reads until the server closes the connection;
// received is false when it did not within the limit.
HttpReply RawExchange(int port, const std::string& request);

// The "key:value" lines of a service reply.
std::map<std::string, std::string> ReplyValues(const std::string& body);
