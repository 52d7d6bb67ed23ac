#pragma once

#include "download/DownloadProgress.h"
#include "download/DownloadState.h"
#include "lookup/StreamRecord.h"

#include <wx/string.h>

// The downloads list's line for one job: "[status] type 'title' > output", and while the
// job transfers, its progress after it.
wxString MakeDownloadLine(const StreamRecord& rec, DownloadState state,
                          const DownloadProgress& progress);
