#include "ServiceSecret.h"

#include "ErrorText.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace
{
const char kHexDigits[] = "0123456789abcdef";
constexpr int kNibbleBits = 4;
constexpr unsigned char kNibbleMask = 0x0f;

bool IsPathSafe(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}
} // namespace

bool ServiceSecret::Make(std::string& secret, std::string& error)
{
    unsigned char bytes[kRandomBytes];
    std::size_t got = 0;
    while (got < sizeof bytes)
    {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            error = std::string("no random bytes for the secret: ") + ErrorText(errno);
            return false;
        }
        got += std::size_t(n);
    }
    secret.clear();
    for (const unsigned char byte : bytes)
    {
        secret += kHexDigits[byte >> kNibbleBits];
        secret += kHexDigits[byte & kNibbleMask];
    }
    return true;
}

bool ServiceSecret::IsUsable(const std::string& text)
{
    return text.size() >= kShortest && std::all_of(text.begin(), text.end(), IsPathSafe);
}

bool ServiceSecret::Matches(const std::string& secret, const std::string& candidate)
{
    if (candidate.size() != secret.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(secret[i] ^ candidate[i]);
    return difference == 0;
}
