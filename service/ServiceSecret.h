#pragma once

#include <string>

// The first part of every address the service answers. Anyone on the machine can find the
// port (ss -ltn) and a web page can reach it through DNS rebinding; only the program that
// started the service reads the secret, from the line the service prints to it.
class ServiceSecret
{
public:
    // At least 128 random bits, as hexadecimal text.
    static constexpr std::size_t kRandomBytes = 16;
    // A secret given on the command line is no weaker than a made one.
    static constexpr std::size_t kShortest = 2 * kRandomBytes;

    // A fresh secret from the kernel's random source; false with the reason when there is none.
    static bool Make(std::string& secret, std::string& error);
    // True for text of at least kShortest characters that need no escaping in a path.
    static bool IsUsable(const std::string& text);
    // Compares in a time that does not depend on where the texts first differ, so the
    // secret cannot be guessed a character at a time from the answer's timing.
    static bool Matches(const std::string& secret, const std::string& candidate);
};
