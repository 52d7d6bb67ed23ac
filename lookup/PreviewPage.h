#pragma once

#include <wx/string.h>

// The small HTML page that shows a video's thumbnail; an empty address gives an empty page.
wxString MakePreviewPage(const wxString& thumbnailUrl);
