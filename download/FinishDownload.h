#pragma once

#include "lookup/StreamRecord.h"

#include <wx/string.h>

#include <atomic>
#include <functional>

// How putting a whole download in its place ended.
enum class FinishOutcome
{
    Placed,           // the file is under the name in FinishResult::placed
    Stopped,          // the stop flag ended it; the temporary file is as it was
    ConversionFailed, // the MP3 entry's stream gave no sound; maybe the download was damaged
    SaveFailed,       // the file could not be put in place
};

struct FinishResult
{
    FinishOutcome outcome = FinishOutcome::Placed;
    wxString placed;
    // The status text the job ends with, in the user's language; empty when Placed.
    wxString error;
};

// Puts the whole download in tempPath where rec says: the MP3 entry is converted (and its
// temporary file removed), an MP3 without a frame index copied with one, any other moved. The name
// taken is the first free one of the record's names. onStatus is told the phase's status text
// before it begins; stop ends it early, leaving nothing behind.
FinishResult FinishDownload(const StreamRecord& rec, const wxString& tempPath,
                            const std::atomic<bool>& stop,
                            const std::function<void(const wxString&)>& onStatus);
