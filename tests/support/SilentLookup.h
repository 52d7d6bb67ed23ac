#pragma once

// A name lookup that never answers, for the tests of stopping and quitting during one.
// Include in ONE source file of a test program: it replaces the C library's getaddrinfo in
// that program. The silent host waits until Release (a minute at most); every other name is
// looked up as usual.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <netdb.h>

namespace SilentLookup
{
inline const char kHost[] = "never-answers.norvik.invalid";

struct Gate
{
    std::mutex mutex;
    std::condition_variable changed;
    int entered = 0;
    bool released = false;
};

inline Gate& TheGate()
{
    static Gate gate;
    return gate;
}

// Closes the gate for the next lookups of the silent host.
inline void Arm()
{
    std::lock_guard<std::mutex> guard(TheGate().mutex);
    TheGate().entered = 0;
    TheGate().released = false;
}

// Lets every waiting lookup end (with a failure), so no thread outlives the test for long.
inline void Release()
{
    std::lock_guard<std::mutex> guard(TheGate().mutex);
    TheGate().released = true;
    TheGate().changed.notify_all();
}

// How many lookups of the silent host are waiting or have waited since Arm.
inline int Entered()
{
    std::lock_guard<std::mutex> guard(TheGate().mutex);
    return TheGate().entered;
}
} // namespace SilentLookup

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result)
{
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && std::strcmp(node, SilentLookup::kHost) == 0)
    {
        SilentLookup::Gate& gate = SilentLookup::TheGate();
        std::unique_lock<std::mutex> guard(gate.mutex);
        ++gate.entered;
        gate.changed.wait_for(guard, std::chrono::minutes(1), [&] { return gate.released; });
        return EAI_AGAIN;
    }
    return real(node, service, hints, result);
}
