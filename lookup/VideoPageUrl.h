#pragma once

#include <wx/string.h>

// Length of a video id taken out of a watch-page address.
constexpr size_t kVideoIdLength = 11;

// True when the address looks like a video watch page; the test ignores letter case.
bool IsVideoPageUrl(const wxString& address);

// The 11 characters after the first "v=" of a watch-page address, or the empty text.
wxString GetVideoId(const wxString& address);
