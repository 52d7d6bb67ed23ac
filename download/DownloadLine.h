#pragma once

#include "download/Downloader.h"

#include <wx/string.h>

// The downloads list's line for one job: "[status] type 'title' > output", and while the
// job transfers, its progress after it.
wxString MakeDownloadLine(const StreamRecord& rec, DownloadState state,
                          const DownloadProgress& progress);
