#include "PageAddress.h"

#include "TextMatch.h"

#include <algorithm>
#include <cstdint>

namespace
{
const char* const kIdPrefix = "a-";
constexpr std::size_t kHashDigits = 16;
// FNV-1a, 64 bits: the same id for the same address in every run and on every machine.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;
constexpr unsigned char kFirstPrintable = 0x21;
constexpr unsigned char kDelete = 0x7f;
// Addresses people copy are short; this keeps a hostile one off a command line.
constexpr std::size_t kLongestAddress = 8192;

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}
} // namespace

bool PageAddress::IsAccepted(const std::string& address)
{
    if (address.size() > kLongestAddress)
        return false;
    const std::string lower = TextMatch::Lower(address);
    std::size_t hostStart = 0;
    for (const char* scheme : {"http://", "https://"})
        if (TextMatch::StartsWith(lower, scheme))
            hostStart = std::string(scheme).size();
    // A host is needed: "http:///x" names none.
    if (hostStart == 0 || hostStart >= address.size() || address[hostStart] == '/')
        return false;
    return std::all_of(address.begin(), address.end(),
                       [](char c)
                       {
                           const auto u = static_cast<unsigned char>(c);
                           return u >= kFirstPrintable && u != kDelete;
                       });
}

std::string PageAddress::IdOf(const std::string& address)
{
    std::uint64_t hash = kFnvOffset;
    for (const char c : address)
    {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string id = kIdPrefix;
    for (std::size_t i = 0; i < kHashDigits; ++i)
        id += kDigits[(hash >> (4 * (kHashDigits - 1 - i))) & 0xf];
    return id;
}

bool PageAddress::IsId(const std::string& id)
{
    const std::string prefix = kIdPrefix;
    return id.size() == prefix.size() + kHashDigits && TextMatch::StartsWith(id, prefix) &&
           std::all_of(id.begin() + std::ptrdiff_t(prefix.size()), id.end(), IsHexDigit);
}
