#include "lookup/VideoPageUrl.h"

#include <wx/intl.h>
#include <wx/log.h>
#include <wx/regex.h>

namespace
{
// Matched against a lower-cased copy, so capitals in the scheme or host are still recognised.
const wxString kWatchPagePattern = "^(http|https)://(.*)youtube(.+)v=(.+)";

// Searched in the address as typed: the id is case-sensitive, so its case must be kept.
const wxString kIdMarker = "v=";
} // namespace

bool IsVideoPageUrl(const wxString& address)
{
    const wxRegEx watchPage(kWatchPagePattern);
    if (!watchPage.IsValid())
    {
        wxLogError(_("Invalid RegEx"));
        return false;
    }
    wxString lowered(address);
    lowered.MakeLower();
    return watchPage.Matches(lowered);
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
