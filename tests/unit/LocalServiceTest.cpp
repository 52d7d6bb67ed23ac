#include "lookup/LocalService.h"
#include "lookup/UrlFetcher.h"
#include "support/PollUntil.h"
#include "support/ProcessEnd.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstring>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace
{
constexpr long kGoneLimitMs = 10000;

std::string Script(const TempDir& dir, const std::string& name, const std::string& body)
{
    const std::string path = dir.File(name).utf8_string();
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0700);
    return path;
}

// The service's address carries its secret as a path: the client takes the origin alone.
int VersionStatus(const std::string& url, const std::string& path = "/hub.php?s=curver")
{
    const std::size_t pathStart = url.find('/', url.find("//") + 2);
    httplib::Client client(url.substr(0, pathStart));
    const std::string secret = pathStart == std::string::npos ? "" : url.substr(pathStart);
    const auto reply = client.Get(secret + path);
    return reply ? reply->status : -1;
}
} // namespace

TEST(LocalService, TwoCopiesListenOnPortsOfTheirOwnAndEndOnStop)
{
    LocalService first(NORVIK_SERVICE_EXE), second(NORVIK_SERVICE_EXE);
    std::string error;
    ASSERT_TRUE(first.Start(error)) << error;
    ASSERT_TRUE(second.Start(error)) << error;
    EXPECT_EQ(0u, first.GetUrl().rfind("http://127.0.0.1:", 0)) << first.GetUrl();
    // The secret path is kept: without it the service knows no route.
    const std::string secret = first.GetUrl().substr(first.GetUrl().find('/', strlen("http://")));
    EXPECT_EQ(strlen("/") + 32, secret.size()) << first.GetUrl();
    EXPECT_EQ(404, VersionStatus(first.GetUrl().substr(0, first.GetUrl().size() - secret.size())));
    EXPECT_NE(first.GetUrl(), second.GetUrl());
    EXPECT_EQ(200, VersionStatus(first.GetUrl()));
    EXPECT_EQ(200, VersionStatus(second.GetUrl()));

    const pid_t pid = first.GetPid();
    first.Stop();
    EXPECT_FALSE(first.IsRunning());
    EXPECT_TRUE(ProcessEnded(pid));
    EXPECT_EQ(200, VersionStatus(second.GetUrl()));
}

TEST(LocalService, AnEndedServiceIsNoticedAndStartsAgain)
{
    LocalService service(NORVIK_SERVICE_EXE);
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    kill(service.GetPid(), SIGKILL);
    EXPECT_TRUE(PollUntil([&] { return !service.IsRunning(); }, kGoneLimitMs))
        << "a killed service still counts as running";
    EXPECT_EQ("signal 9", service.LastEnd());
    ASSERT_TRUE(service.Start(error)) << error;
    EXPECT_EQ(200, VersionStatus(service.GetUrl()));
}

TEST(LocalService, FailuresToStartSayWhyAndLeaveNothingRunning)
{
    TempDir dir;
    const std::string pidFile = dir.File("pid").utf8_string();
    const struct
    {
        std::string program;
        std::string saying;
    } cases[] = {
        {dir.File("absent").utf8_string(), "No such file"},
        {Script(dir, "fails", "echo 'cannot listen' >&2; exit 3"), "(exit status 3)"},
        {Script(dir, "chatty", "echo hello; sleep 60"), "said \"hello\""},
        {Script(dir, "silent", "echo $$ >" + pidFile + "; exec sleep 60"), "did not say"},
    };
    for (const auto& c : cases)
    {
        LocalService service(c.program);
        std::string error;
        EXPECT_FALSE(service.Start(error, std::chrono::milliseconds(2000))) << c.program;
        EXPECT_NE(std::string::npos, error.find(c.saying)) << error;
        EXPECT_FALSE(service.IsRunning());
    }
    pid_t silent = 0;
    ASSERT_TRUE(std::ifstream(pidFile) >> silent);
    EXPECT_TRUE(ProcessEnded(silent));
}

TEST(LocalService, EndsWhenItsParentIsKilled)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0)
    {
        // Stands in for the program: starts the service, reports its process, then waits.
        close(fds[0]);
        LocalService service(NORVIK_SERVICE_EXE);
        std::string error;
        const pid_t pid = service.Start(error) ? service.GetPid() : -1;
        if (write(fds[1], &pid, sizeof pid) != sizeof pid)
            _exit(1);
        pause();
        _exit(0);
    }
    close(fds[1]);
    pid_t service = -1;
    const ssize_t got = read(fds[0], &service, sizeof service);
    close(fds[0]);
    kill(parent, SIGKILL);
    waitpid(parent, nullptr, 0);
    ASSERT_EQ(ssize_t(sizeof service), got);
    ASSERT_GT(service, 0);
    EXPECT_TRUE(ProcessEndsWithin(service, std::chrono::milliseconds(kGoneLimitMs)));
    if (!ProcessEnded(service))
        kill(service, SIGKILL);
}

TEST(LocalService, RequestsToTheUnavailableAddressFailAtOnce)
{
    wxString text;
    EXPECT_EQ(
        FetchOutcome::NotOpened,
        FetchUrlText(wxString(LocalService::kUnavailableUrl) + "/api/?videoid=NkDemoClip1", text));
    EXPECT_EQ(FetchOutcome::NotOpened,
              FetchUrlText(wxString(LocalService::kUnavailableUrl) + "/hub.php?s=curver", text));
}
