#include "lookup/ServiceRequest.h"

#include "lookup/VideoPageUrl.h"

#include <wx/crt.h>

namespace
{
const wxString kVideoIdPath = "/api/?videoid=";
const wxString kOtherSitePath = "/api/?url=";
const wxUniChar kSlash = '/';
const wxUniChar kPercent = '%';
// Besides letters and digits: the unreserved marks, the sub-delimiters and the characters a
// query may hold as they are (RFC 3986).
const wxString kKeptInQuery = "-._~!$&'()*+,;=:@/?";
const wxString kUnreserved = "-._~";
const char kHexDigits[] = "0123456789ABCDEF";
constexpr int kNibbleBits = 4;
constexpr unsigned char kNibbleMask = 0x0f;
constexpr wxUniChar::value_type kLastAscii = 0x7f;
constexpr size_t kEscapeLength = 3;

bool IsAsciiAlnum(wxUniChar ch)
{
    return ch.GetValue() <= kLastAscii && wxIsalnum(ch);
}

bool IsHexDigit(wxUniChar ch)
{
    return ch.GetValue() <= kLastAscii && wxIsxdigit(ch);
}

// "%" and two hex digits at position at of text.
bool IsEscape(const wxString& text, size_t at)
{
    return text[at] == kPercent && at + kEscapeLength <= text.length() &&
           IsHexDigit(text[at + 1]) && IsHexDigit(text[at + 2]);
}

void AppendEscaped(wxString& escaped, wxUniChar ch)
{
    // The buffer may point into the string's own storage: the string must outlive it.
    const wxString character(ch);
    const wxScopedCharBuffer bytes = character.utf8_str();
    for (size_t b = 0; b < bytes.length(); ++b)
    {
        const unsigned char byte = bytes.data()[b];
        escaped += kPercent;
        escaped += kHexDigits[byte >> kNibbleBits];
        escaped += kHexDigits[byte & kNibbleMask];
    }
}
} // namespace

wxString ServiceRequestAddress(const wxString& serviceUrl, const wxString& path)
{
    wxString base(serviceUrl);
    while (base.EndsWith(kSlash))
        base.RemoveLast();
    return base + path;
}

wxString EscapeQueryValue(const wxString& value)
{
    wxString escaped;
    for (size_t i = 0; i < value.length(); ++i)
    {
        const wxUniChar ch = value[i];
        if (IsAsciiAlnum(ch) || kKeptInQuery.Find(ch) != wxNOT_FOUND || IsEscape(value, i))
        {
            escaped += ch;
            continue;
        }
        AppendEscaped(escaped, ch);
    }
    return escaped;
}

wxString EscapeQueryComponent(const wxString& value)
{
    wxString escaped;
    for (const wxUniChar ch : value)
    {
        if (IsAsciiAlnum(ch) || kUnreserved.Find(ch) != wxNOT_FOUND)
            escaped += ch;
        else
            AppendEscaped(escaped, ch);
    }
    return escaped;
}

wxString LookupPath(const wxString& address)
{
    // An id is any eleven characters of a watch page: a blank in it would make the request an
    // address no client accepts.
    const wxString id = GetVideoId(address);
    if (id.length() == kVideoIdLength)
        return kVideoIdPath + EscapeQueryValue(id);
    if (IsOtherSiteUrl(address))
        return kOtherSitePath + EscapeQueryComponent(address);
    return wxString();
}
