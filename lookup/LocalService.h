#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// The metadata service program run as a child of this process, on a free loopback port of
// its own, so every running copy of Norvik has a service nobody else uses. The child is tied
// to this process: it ends with Stop(), with this object, and, should this process be killed,
// through the kernel's parent-death signal.
class LocalService
{
public:
    // A loaded machine may take a while to start a program; a service that says nothing for
    // this long is given up.
    static constexpr std::chrono::milliseconds kStartLimit{10000};
    // How long a service asked to end may take before it is killed; short, since quitting
    // waits for it.
    static constexpr std::chrono::milliseconds kStopLimit{1000};
    // An address for requests when the service could not start: no handler of the virtual
    // file system claims its scheme, so every request made from it fails at once and the
    // caller shows its usual error.
    static constexpr const char* kUnavailableUrl = "unavailable-service:";

    // program: the service's executable; extraArguments follow the port and address.
    explicit LocalService(std::string program, std::vector<std::string> extraArguments = {});
    ~LocalService();
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    // Starts the service and waits, at most for limit, for its "listening on" line. False
    // with the reason in error when it cannot run, ends early or says nothing in time; a
    // child that was started is ended then.
    bool Start(std::string& error, std::chrono::milliseconds limit = kStartLimit);

    // True while the child runs. A child that has ended is reaped here, and LastEnd() says
    // how it ended.
    bool IsRunning();

    // Ends the child: asked first, killed after kStopLimit. Nothing happens when none runs.
    void Stop();

    // "http://127.0.0.1:PORT/SECRET" as the service printed it (the secret path is where
    // every request goes), without a trailing slash, valid while the child runs.
    const std::string& GetUrl() const { return url; }
    pid_t GetPid() const { return pid; }
    // How the last child ended ("exit status 1", "signal 9"), empty while none has ended.
    const std::string& LastEnd() const { return lastEnd; }

private:
    pid_t Launch(int outputFd, std::string& error);
    bool ReadListeningLine(int outputFd, std::chrono::milliseconds limit, std::string& error);
    void Reaped(int status);

    std::string program;
    std::vector<std::string> extraArguments;
    pid_t pid = -1;
    std::string url;
    std::string lastEnd;
};
