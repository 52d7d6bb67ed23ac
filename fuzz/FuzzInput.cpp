#include "fuzz/FuzzInput.h"

#include <algorithm>

namespace
{
constexpr int kBitsPerByte = 8;
}

std::uint8_t FuzzInput::TakeByte()
{
    return at < size ? data[at++] : 0;
}

std::uint16_t FuzzInput::TakeBigEndian16()
{
    const std::uint16_t high = TakeByte();
    return std::uint16_t((high << kBitsPerByte) | TakeByte());
}

std::string FuzzInput::TakeBytes(size_t count)
{
    const size_t taken = std::min(count, size - at);
    std::string bytes(reinterpret_cast<const char*>(data + at), taken);
    at += taken;
    return bytes;
}

std::string FuzzInput::TakeRest()
{
    return TakeBytes(size - at);
}

wxString FuzzInput::FromUtf8(const std::string& bytes)
{
    return wxString::FromUTF8(bytes.data(), bytes.size());
}

wxString FuzzInput::From8Bit(const std::string& bytes)
{
    return wxString::From8BitData(bytes.data(), bytes.size());
}
