#pragma once

#include <string>

// SHA-256 digests through OpenSSL's libcrypto, as lowercase hex.
class Sha256
{
public:
    // The digest of a whole file; empty with the reason in error when it cannot be read.
    static std::string OfFile(const std::string& path, std::string& error);
    // True for 64 hex digits, either case.
    static bool IsDigest(const std::string& text);
};
