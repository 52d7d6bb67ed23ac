#include "ProgramRun.h"

#include "ServiceHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace
{
constexpr int kExecFailed = 127;
constexpr auto kPollInterval = std::chrono::milliseconds(10);
} // namespace

ProgramRun ProgramRun::Run(const std::vector<std::string>& argv, const std::string& outputFile,
                           std::chrono::milliseconds limit)
{
    ProgramRun run;
    const std::string errorFile = TempName("norvik-run-err-XXXXXX");
    const pid_t child = fork();
    if (child == 0)
    {
        // A group of its own, so a killed yt-dlp takes its ffmpeg along.
        setpgid(0, 0);
        const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, S_IRUSR | S_IWUSR);
        const int err = open(errorFile.c_str(), O_WRONLY | O_TRUNC);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0)
            _exit(kExecFailed);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<std::string> all = argv;
        std::vector<char*> args;
        for (std::string& a : all)
            args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(kExecFailed);
    }
    if (child > 0)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(kPollInterval);
        if (done == 0)
        {
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
        }
        else if (done == child && WIFEXITED(status))
        {
            run.finished = WEXITSTATUS(status) != kExecFailed;
            run.code = WEXITSTATUS(status);
        }
    }
    run.err = ReadFileBytes(errorFile);
    fs::remove(errorFile);
    return run;
}

ProgramRun ProgramRun::Capture(const std::vector<std::string>& argv, std::string& output,
                               std::chrono::milliseconds limit)
{
    const std::string outputFile = TempName("norvik-run-out-XXXXXX");
    ProgramRun run = Run(argv, outputFile, limit);
    output = ReadFileBytes(outputFile);
    fs::remove(outputFile);
    return run;
}

bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0)
            return true;
    return false;
}
