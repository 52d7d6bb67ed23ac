#include "lookup/VideoPageUrl.h"

namespace
{
// A watch page is "http://" or "https://", then anything, "youtube", at least one character,
// "v=" and at least one character, all compared in lower case so capitals in the scheme or
// host are still recognised. Read in one pass rather than with a regular expression: the
// toolkit's matcher takes time growing with the square of the text and gives up on long
// texts, and the clipboard watch tests whatever text was copied, on every tick.
const wxString kSchemes[] = {"http://", "https://"};
const wxString kHostWord = "youtube";
// Searched in the address as typed: the id is case-sensitive, so its case must be kept.
const wxString kIdMarker = "v=";
} // namespace

bool IsVideoPageUrl(const wxString& address)
{
    wxString lowered(address);
    lowered.MakeLower();
    for (const wxString& scheme : kSchemes)
    {
        if (!lowered.StartsWith(scheme))
            continue;
        // The earliest host word leaves the most room for the rest. Of the markers at least
        // one character after it, the first is the one with the most text behind it: if
        // nothing follows that one, nothing follows any later one either.
        const size_t host = lowered.find(kHostWord, scheme.length());
        if (host == wxString::npos)
            return false;
        const size_t marker = lowered.find(kIdMarker, host + kHostWord.length() + 1);
        return marker != wxString::npos && marker + kIdMarker.length() < lowered.length();
    }
    return false;
}

wxString GetVideoId(const wxString& address)
{
    if (!IsVideoPageUrl(address))
        return wxString();
    const size_t markerPos = address.find(kIdMarker);
    if (markerPos == wxString::npos)
        return wxString();
    const wxString id = address.Mid(markerPos + kIdMarker.length(), kVideoIdLength);
    if (id.length() < kVideoIdLength)
        return wxString();
    return id;
}
