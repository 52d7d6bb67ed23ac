#include "update/Sha256.h"

#include "config/SystemErrorText.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
constexpr std::size_t kDigestHexDigits = 64;
constexpr std::size_t kReadBlockBytes = std::size_t{64} * 1024;

struct ContextFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
} // namespace

std::string Sha256::OfFile(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        error = path + ": " + SystemErrorText(errno).utf8_string();
        return "";
    }
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::vector<char> block(kReadBlockBytes);
    while (ok)
    {
        const ssize_t got = read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            error = path + ": " + SystemErrorText(errno).utf8_string();
            close(fd);
            return "";
        }
        if (got == 0)
            break;
        ok = EVP_DigestUpdate(context.get(), block.data(), std::size_t(got)) == 1;
    }
    close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
    {
        error = "SHA-256 of " + path + " could not be computed";
        return "";
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i)
    {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xf];
    }
    return hex;
}

bool Sha256::IsDigest(const std::string& text)
{
    return text.size() == kDigestHexDigits &&
           text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}
