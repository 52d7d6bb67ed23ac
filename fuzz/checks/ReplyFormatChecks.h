#pragma once

#include "fuzz/checks/FuzzText.h"
#include "lookup/ReplyFormat.h"

#include <wx/string.h>

#include <cstdint>
#include <string>

// What must hold for any key and reply the service could send, whatever their content. Each
// check gives the empty text when everything holds, otherwise what broke.
namespace reply_checks
{
const wxUniChar kLineBreak = '\n';
const wxString kKeyEnd = ":";
// What the reading drops around a value: ASCII white space, the CR of a CRLF line end too.
const wxString kBlanks = " \t\r\n\v\f";
// Everything ExtensionForType may answer: the empty text for an unknown type.
const char* const kKnownExtensions[] = {"", ".m4a", ".mp4", ".flv", ".3gp", ".webm", ".mp3"};
// The keys the program looks up in a video reply.
const char* const kProgramKeys[] = {"status", "title", "cleanedtitle", "thumbnail",
                                    "nrecords", "itag0", "url0", "type0",
                                    "quality0", "size0", "url10"};
const wxString kSlash = "/";

inline bool IsBlank(wxUniChar ch)
{
    return kBlanks.Find(ch) != wxNOT_FOUND;
}

inline wxString TrimBlanks(const wxString& text)
{
    size_t first = 0;
    size_t end = text.length();
    while (first < end && IsBlank(text[first]))
        ++first;
    while (end > first && IsBlank(text[end - 1]))
        --end;
    return text.substr(first, end - first);
}

// A key names the start of its line: the caller may give it with or without its colon and
// with blanks after it ("status", "status:", "status \t").
inline wxString LineStartOfKey(const wxString& key)
{
    size_t end = key.length();
    while (end > 0 && IsBlank(key[end - 1]))
        --end;
    wxString start = key.substr(0, end);
    if (!start.EndsWith(kKeyEnd))
        start += kKeyEnd;
    return start;
}

// The value as the line format defines it: the rest of the first line that starts with the
// key, without its blanks; the empty text when no line starts with the key.
inline wxString ExpectedValue(const wxString& key, const wxString& reply)
{
    const wxString start = LineStartOfKey(key);
    size_t lineStart = 0;
    for (;;)
    {
        size_t lineEnd = reply.find(kLineBreak, lineStart);
        if (lineEnd == wxString::npos)
            lineEnd = reply.length();
        const wxString line = reply.substr(lineStart, lineEnd - lineStart);
        if (line.StartsWith(start))
            return TrimBlanks(line.substr(start.length()));
        if (lineEnd == reply.length())
            return wxString();
        lineStart = lineEnd + 1;
    }
}

inline std::string CheckExtensionForType(const wxString& type)
{
    const wxString extension = ExtensionForType(type);
    bool known = false;
    for (const char* candidate : kKnownExtensions)
        known = known || extension == candidate;
    if (!known)
        return "ExtensionForType(" + Quote(type) + ") gave unknown " + Quote(extension);
    // Every extension comes from a container name after a slash, "video/x-flv" for ".flv".
    if (!extension.empty() && (!type.Contains(kSlash) || !type.Contains(extension.Mid(1))))
        return "ExtensionForType(" + Quote(type) + ") gave " + Quote(extension) +
               ", which the type does not name";
    return std::string();
}

inline std::string CheckReplyValue(const wxString& key, const wxString& reply)
{
    const std::string call = "GetReplyValue(" + Quote(key) + ", " + Quote(reply) + ")";
    const wxString value = GetReplyValue(key, reply);
    if (value.find(kLineBreak) != wxString::npos)
        return call + " gave " + Quote(value) + ", which holds a line break";
    if (!value.empty() && (IsBlank(value[0]) || IsBlank(value.Last())))
        return call + " gave " + Quote(value) + " with blanks around it";
    const wxString expected = ExpectedValue(key, reply);
    if (value != expected)
        return call + " gave " + Quote(value) + ", the first line of the key says " +
               Quote(expected);

    // The service may end its lines with CRLF: that must not change any value.
    wxString crlfReply(reply);
    crlfReply.Replace("\n", "\r\n");
    const wxString crlfValue = GetReplyValue(key, crlfReply);
    if (crlfValue != value)
        return call + " gave " + Quote(value) + ", but " + Quote(crlfValue) +
               " once lines end in CRLF";

    // A line for the key put before all others is the one that is read.
    const wxString start = LineStartOfKey(key);
    if (start.find(kLineBreak) == wxString::npos)
    {
        const wxString line = reply.BeforeFirst(kLineBreak);
        const wxString firstValue = GetReplyValue(key, start + line + kLineBreak + reply);
        if (firstValue != TrimBlanks(line))
            return call + " with the line " + Quote(start + line) + " put first gave " +
                   Quote(firstValue);
    }
    return CheckExtensionForType(value);
}

// The first line of the input is the key, the rest the reply. The whole input is also read
// as a reply for each key the program asks for.
inline std::string CheckReplyFormatInput(const std::uint8_t* data, size_t size)
{
    for (const DecodedText& decoded : DecodeText(data, size))
    {
        const wxString& text = decoded.text;
        const size_t keyEnd = text.find(kLineBreak);
        const wxString key = text.substr(0, keyEnd);
        const wxString reply = keyEnd == wxString::npos ? wxString() : text.substr(keyEnd + 1);
        std::string broken = CheckReplyValue(key, reply);
        for (const char* programKey : kProgramKeys)
        {
            if (broken.empty())
                broken = CheckReplyValue(programKey, text);
        }
        if (broken.empty())
            broken = CheckExtensionForType(text);
        if (!broken.empty())
            return std::string(decoded.decoding) + " text: " + broken;
    }
    return std::string();
}
} // namespace reply_checks
