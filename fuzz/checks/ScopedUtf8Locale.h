#pragma once

#include <clocale>
#include <string>

// Puts the process in the C.UTF-8 locale while it lives. The program runs in its user's
// locale, normally a UTF-8 one; the fuzzers and the replay of their inputs use this one, so
// a kept input means the same wherever it is replayed.
class ScopedUtf8Locale
{
public:
    ScopedUtf8Locale()
    {
        if (const char* current = std::setlocale(LC_ALL, nullptr))
            previous = current;
        ok = std::setlocale(LC_ALL, kLocaleName) != nullptr;
    }
    ~ScopedUtf8Locale()
    {
        if (!previous.empty())
            std::setlocale(LC_ALL, previous.c_str());
    }
    ScopedUtf8Locale(const ScopedUtf8Locale&) = delete;
    ScopedUtf8Locale& operator=(const ScopedUtf8Locale&) = delete;

    bool IsOk() const { return ok; }

    static constexpr const char* kLocaleName = "C.UTF-8";

private:
    std::string previous;
    bool ok = false;
};
