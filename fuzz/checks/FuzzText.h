#pragma once

#include <wx/strconv.h>
#include <wx/string.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One way the program may have turned bytes from outside into text, and the text it gave.
struct DecodedText
{
    const char* decoding;
    wxString text;
};

// The bytes read every way text reaches the parsers: as UTF-8 (which gives nothing for
// malformed input), byte by byte as Latin-1, through the C library's locale and through the
// file-name conversion. Decodings that give the same text as an earlier one are left out, so
// a check runs once per distinct text.
inline std::vector<DecodedText> DecodeText(const std::uint8_t* bytes, size_t size)
{
    const char* chars = reinterpret_cast<const char*>(bytes);
    std::vector<DecodedText> all;
    const auto add = [&all](const char* decoding, const wxString& text)
    {
        for (const DecodedText& earlier : all)
        {
            if (earlier.text == text)
                return;
        }
        all.push_back({decoding, text});
    };
    add("UTF-8", wxString::FromUTF8(chars, size));
    add("8-bit", wxString::From8BitData(chars, size));
    add("C library", wxString(chars, wxConvLibc, size));
    add("file-name", wxString(chars, *wxConvFileName, size));
    return all;
}

// The text for a message: printable ASCII as it is, everything else as \u{hex}, long texts
// cut, so a broken check names its input readably on one line.
inline std::string Quote(const wxString& text)
{
    constexpr size_t kShownChars = 160;
    constexpr unsigned kFirstPrintable = 0x20;
    constexpr unsigned kFirstNotPrintable = 0x7f;
    constexpr size_t kEscapeRoom = 16;
    std::string shown = "\"";
    size_t count = 0;
    for (const wxUniChar ch : text)
    {
        if (count++ == kShownChars)
        {
            shown += "...";
            break;
        }
        const unsigned value = unsigned(ch.GetValue());
        if (value >= kFirstPrintable && value < kFirstNotPrintable && value != '"' &&
            value != '\\')
        {
            shown += char(value);
            continue;
        }
        char escaped[kEscapeRoom];
        std::snprintf(escaped, sizeof(escaped), "\\u{%x}", value);
        shown += escaped;
    }
    shown += "\" (" + std::to_string(text.length()) + " chars)";
    return shown;
}
