#include "download/FinishDownload.h"

#include "download/MoveIntoPlace.h"
#include "download/Mp3Converter.h"
#include "download/OutputNames.h"
#include "download/TempFileRegistry.h"

#include <wx/intl.h>

namespace
{
const wxString kMp3Type = "mp3";
} // namespace

FinishResult FinishDownload(const StreamRecord& rec, const wxString& tempPath,
                            const std::atomic<bool>& stop,
                            const std::function<void(const wxString&)>& onStatus)
{
    // The extension the lookup named the file with; a record without one keeps its path's.
    const OutputNames names = rec.extension.empty()
                                  ? OutputNames(rec.outputPath)
                                  : OutputNames(rec.outputPath, rec.title, rec.extension);
    FinishResult result;
    if (rec.type == kMp3Type)
    {
        onStatus(_("Converting to MP3"));
        if (ConvertToMp3(tempPath, names, &stop, &result.placed))
        {
            // A job's temporary file goes once a conversion has used it.
            TempFileRegistry::Remove(tempPath);
            return result;
        }
        // Stopped, the download itself is whole: a retry converts it again.
        result.outcome = stop.load() ? FinishOutcome::Stopped : FinishOutcome::ConversionFailed;
        if (result.outcome == FinishOutcome::ConversionFailed)
            result.error = _("Error: conversion to MP3 failed!");
        return result;
    }
    onStatus(_("Finishing"));
    wxString reason;
    if (MoveIntoPlace(tempPath, names, reason, &stop, &result.placed))
        return result;
    result.outcome = stop.load() ? FinishOutcome::Stopped : FinishOutcome::SaveFailed;
    if (result.outcome == FinishOutcome::SaveFailed)
        result.error = wxString::Format(_("Error: can't save the file: %s"), reason);
    return result;
}
