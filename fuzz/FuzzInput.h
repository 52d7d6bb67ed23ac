#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <wx/string.h>

// Reads a fuzz input front to back: the fields a target needs first, then the rest as data.
// Past the end every read yields zero or nothing, so any input splits into valid fields.
class FuzzInput
{
public:
    FuzzInput(const std::uint8_t* data, size_t size) : data(data), size(size) {}

    std::uint8_t TakeByte();
    std::uint16_t TakeBigEndian16();
    // Up to count bytes, fewer where the input ends first.
    std::string TakeBytes(size_t count);
    std::string TakeRest();

    // The two ways the program meets outside text: service replies and file names arrive
    // as UTF-8 (invalid sequences give the empty text), while the 8-bit reading gives every
    // byte a character, so control and high characters reach the parsers too.
    static wxString FromUtf8(const std::string& bytes);
    static wxString From8Bit(const std::string& bytes);

private:
    const std::uint8_t* data;
    size_t size;
    size_t at = 0;
};
