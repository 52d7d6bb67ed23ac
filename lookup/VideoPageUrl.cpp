#include "lookup/VideoPageUrl.h"

namespace
{
// A watch page is "http://" or "https://", then anything, "youtube", at least one character,
// "v=" and at least one character, all compared in lower case so capitals in the scheme or
// host are still recognised. Read in one pass rather than with a regular expression: the
// toolkit's matcher takes time growing with the square of the text and gives up on long
// texts, and the clipboard watch tests whatever text was copied, on every tick.
const wxString kSchemes[] = {"http://", "https://"};
const wxString kSchemeEnd = "://";
const wxString kSchemeMarks = "+.-";
const wxString kHostWord = "youtube";
// Searched in the address as typed: the id is case-sensitive, so its case must be kept.
const wxString kIdMarker = "v=";

// The site's domains, each with any sub-domain (www, m, music...), and its short-link hosts.
const wxString kSiteDomains[] = {"youtube.com", "youtube-nocookie.com"};
const wxString kShortLinkHosts[] = {"youtu.be", "www.youtu.be"};
// Paths whose next segment is the id: Shorts, streams, players and the old player.
const wxString kIdPaths[] = {"/shorts/", "/live/", "/embed/", "/v/"};
// A backslash ends the host as browsers read it, so "evil.example\@youtube.com" is not the site.
const wxString kHostEnd = "/?#\\";
const wxString kIdEnd = "/?#&";
const wxString kIdMarks = "-_";
const wxUniChar kUserInfoEnd = '@';
const wxUniChar kPortStart = ':';
const wxUniChar kDot = '.';
const wxUniChar kSlash = '/';
constexpr wxUniChar::value_type kLastAscii = 0x7f;
constexpr wxUniChar::value_type kLastControl = 0x20;

bool IsAsciiAlnum(wxUniChar ch)
{
    const auto v = ch.GetValue();
    return (v >= '0' && v <= '9') || (v >= 'a' && v <= 'z') || (v >= 'A' && v <= 'Z');
}

// What an address is made of, as far as the site's forms care.
struct AddressParts
{
    // False for another scheme than "http" or "https".
    bool usable = false;
    bool hasScheme = false;
    // Lower case, without user, port or a closing dot.
    wxString host;
    // Where the path (or query, or fragment) begins, in the address as given.
    size_t pathAt = 0;
    // Where the text after the scheme begins.
    size_t afterScheme = 0;
};

AddressParts SplitAddress(const wxString& lowered)
{
    AddressParts parts;
    for (const wxString& scheme : kSchemes)
    {
        if (lowered.StartsWith(scheme))
        {
            parts.hasScheme = true;
            parts.afterScheme = scheme.length();
        }
    }
    if (!parts.hasScheme)
    {
        // "ftp://..." names another scheme; a "://" after a "/" or "?" is only in a parameter.
        const size_t schemeEnd = lowered.find(kSchemeEnd);
        bool otherScheme = schemeEnd != wxString::npos && schemeEnd > 0;
        for (size_t i = 0; otherScheme && i < schemeEnd; ++i)
            otherScheme = IsAsciiAlnum(lowered[i]) || kSchemeMarks.Find(lowered[i]) != wxNOT_FOUND;
        if (otherScheme)
            return parts;
    }
    size_t end = parts.afterScheme;
    while (end < lowered.length() && kHostEnd.Find(lowered[end]) == wxNOT_FOUND)
        ++end;
    wxString host = lowered.Mid(parts.afterScheme, end - parts.afterScheme);
    const size_t userEnd = host.rfind(kUserInfoEnd);
    if (userEnd != wxString::npos)
        host.erase(0, userEnd + 1);
    const size_t port = host.find(kPortStart);
    if (port != wxString::npos)
        host.erase(port);
    if (host.EndsWith(kDot))
        host.RemoveLast();
    parts.usable = true;
    parts.host = host;
    parts.pathAt = end;
    return parts;
}

bool IsSiteDomain(const wxString& host)
{
    for (const wxString& domain : kSiteDomains)
        if (host == domain || host.EndsWith(kDot + domain))
            return true;
    return false;
}

bool IsShortLinkHost(const wxString& host)
{
    for (const wxString& shortHost : kShortLinkHosts)
        if (host == shortHost)
            return true;
    return false;
}

// The id that the path segment at from holds, or the empty text when it is not one: the
// other forms name the video by the whole segment, so a longer or shorter one is no id.
wxString PathId(const wxString& address, size_t from)
{
    size_t end = from;
    while (end < address.length() && kIdEnd.Find(address[end]) == wxNOT_FOUND)
        ++end;
    if (end - from != kVideoIdLength)
        return wxString();
    for (size_t i = from; i < end; ++i)
        if (!IsAsciiAlnum(address[i]) && kIdMarks.Find(address[i]) == wxNOT_FOUND)
            return wxString();
    return address.Mid(from, kVideoIdLength);
}

// The watch-page rule, from the text after the scheme.
bool MatchesWatchRule(const wxString& lowered, size_t from)
{
    // The earliest host word leaves the most room for the rest. Of the markers at least one
    // character after it, the first is the one with the most text behind it: if nothing
    // follows that one, nothing follows any later one either.
    const size_t host = lowered.find(kHostWord, from);
    if (host == wxString::npos)
        return false;
    const size_t marker = lowered.find(kIdMarker, host + kHostWord.length() + 1);
    return marker != wxString::npos && marker + kIdMarker.length() < lowered.length();
}

struct SiteAddress
{
    bool isPage = false;
    // Set for the forms that name the video in the path.
    wxString pathId;
};

SiteAddress ReadSiteAddress(const wxString& address)
{
    SiteAddress site;
    const wxString lowered = address.Lower();
    const AddressParts parts = SplitAddress(lowered);
    if (!parts.usable)
        return site;
    const bool shortLink = IsShortLinkHost(parts.host);
    if (!shortLink && !IsSiteDomain(parts.host))
        return site;
    if (shortLink && parts.pathAt < address.length() && address[parts.pathAt] == kSlash)
        site.pathId = PathId(address, parts.pathAt + 1);
    for (const wxString& path : kIdPaths)
        if (!shortLink && site.pathId.empty() &&
            lowered.compare(parts.pathAt, path.length(), path) == 0)
            site.pathId = PathId(address, parts.pathAt + path.length());
    site.isPage = !site.pathId.empty() || MatchesWatchRule(lowered, parts.afterScheme);
    return site;
}
} // namespace

bool IsVideoPageUrl(const wxString& address)
{
    return ReadSiteAddress(address).isPage;
}

wxString GetVideoId(const wxString& address)
{
    const SiteAddress site = ReadSiteAddress(address);
    if (!site.isPage)
        return wxString();
    if (!site.pathId.empty())
        return site.pathId;
    const size_t markerPos = address.find(kIdMarker);
    if (markerPos == wxString::npos)
        return wxString();
    const wxString id = address.Mid(markerPos + kIdMarker.length(), kVideoIdLength);
    if (id.length() < kVideoIdLength)
        return wxString();
    return id;
}

bool IsOtherSiteUrl(const wxString& address)
{
    const wxString lowered = address.Lower();
    const AddressParts parts = SplitAddress(lowered);
    if (!parts.usable || !parts.hasScheme || parts.host.empty())
        return false;
    // A blank or a control character makes it no address, only words that hold one.
    for (const wxUniChar ch : address)
        if (ch.GetValue() <= kLastControl || ch.GetValue() == kLastAscii)
            return false;
    return !IsSiteDomain(parts.host) && !IsShortLinkHost(parts.host);
}
