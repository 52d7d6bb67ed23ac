#pragma once

#include <wx/string.h>

// Length of a video id taken out of a watch-page address.
constexpr size_t kVideoIdLength = 11;

// True when the address is one of the site's own forms of a video address: a watch page
// ("v=" somewhere after "youtube"; the test ignores letter case), or a short link, a Short,
// a stream, a player or an old player address with a well-formed id. "http://", "https://"
// or no scheme at all; the host must be the site's, whatever "v=" the address holds.
bool IsVideoPageUrl(const wxString& address);

// The video id of such an address, or the empty text. A watch page gives the 11 characters
// after its first "v=", as they stand; the other forms give the path's id.
wxString GetVideoId(const wxString& address);

// True when the address is an "http" or "https" address of another site, which the service
// is asked to read as a whole. The site's own addresses never are, even when they name no
// video: those are refused rather than sent as a page of some other site.
bool IsOtherSiteUrl(const wxString& address);
