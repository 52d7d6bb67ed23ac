#include "download/NewFileMode.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>

namespace
{
// What open(2) would give a new file before the umask is applied.
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kFallbackUmask = 022;

// Setting the umask to read it would change it, for a moment, for every thread of the
// process, so the kernel's report is asked first.
mode_t CurrentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = "Umask:";
    while (std::getline(status, line))
    {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        char* end = nullptr;
        const unsigned long value = std::strtoul(line.c_str() + key.size(), &end, 8);
        if (end != line.c_str() + key.size())
            return mode_t(value);
    }
    static std::mutex swapLock;
    std::lock_guard<std::mutex> guard(swapLock);
    const mode_t old = umask(kFallbackUmask);
    umask(old);
    return old;
}
} // namespace

mode_t NewFileMode()
{
    return kNewFileMode & ~CurrentUmask();
}
