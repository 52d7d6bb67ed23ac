#include "ResolverProgram.h"

#include "ErrorText.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace
{
std::string FromEnvironment(const char* name)
{
    // Only read; the service writes its environment only in main, before any thread starts.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* value = std::getenv(name);
    return value && *value ? value : "";
}
} // namespace

std::string ResolverProgram::TemporaryRoot()
{
    const std::string tmp = FromEnvironment("TMPDIR");
    return !tmp.empty() ? tmp : "/tmp";
}

std::string ResolverProgram::UserConfiguration()
{
    const std::string home = FromEnvironment("HOME");
    std::string configHome = FromEnvironment("XDG_CONFIG_HOME");
    if (configHome.empty() && !home.empty())
        configHome = home + "/.config";
    std::vector<std::string> candidates;
    if (!configHome.empty())
        candidates = {configHome + "/yt-dlp.conf", configHome + "/yt-dlp/config",
                      configHome + "/yt-dlp/config.txt"};
    if (!home.empty())
        for (const char* name :
             {"/yt-dlp.conf", "/yt-dlp.conf.txt", "/.yt-dlp/config", "/.yt-dlp/config.txt"})
            candidates.push_back(home + name);
    for (const std::string& file : candidates)
        if (access(file.c_str(), R_OK) == 0)
            return file;
    return "";
}

std::string ResolverProgram::Absolute(const std::string& program)
{
    if (program.find('/') == std::string::npos || program.front() == '/')
        return program;
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(program, failed);
    return failed ? program : absolute.string();
}

bool ResolverProgram::Found(const std::string& program, std::string& reason)
{
    if (program.find('/') != std::string::npos)
    {
        if (access(program.c_str(), X_OK) == 0)
            return true;
        reason = "resolver \"" + program + "\" cannot be run: " + ErrorText(errno);
        return false;
    }
    const std::string dirs = FromEnvironment("PATH");
    std::size_t start = 0;
    while (start <= dirs.size())
    {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate = dir;
        candidate += '/';
        candidate += program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    reason = "resolver \"" + program + "\" is not found on PATH";
    return false;
}
