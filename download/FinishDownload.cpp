#include "download/FinishDownload.h"

#include "download/MoveIntoPlace.h"
#include "download/Mp3Converter.h"
#include "download/Mp3Index.h"
#include "download/OutputNames.h"
#include "download/TempFileRegistry.h"

#include <wx/file.h>
#include <wx/intl.h>
#include <wx/log.h>

namespace
{
const wxString kMp3Type = "mp3";
const wxString kMp3Extension = ".mp3";

bool ReadsAsUnindexedMp3(const wxString& path, Mp3Index& index)
{
    wxLogNull quiet;
    wxFile file(path);
    return file.IsOpened() && index.Scan(file);
}
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
    // An MP3 that its encoder wrote to a pipe (the service's MP3 of a video's sound) lacks the
    // frame index by which players know a VBR file's length: the copy put in place gets one.
    Mp3Index index;
    if (rec.extension == kMp3Extension && ReadsAsUnindexedMp3(tempPath, index))
    {
        const CopyInsertion insertion{index.AudioStart(), index.Frame()};
        if (CopyIntoPlace(tempPath, names, reason, &stop, &result.placed, &insertion))
        {
            TempFileRegistry::Remove(tempPath);
            return result;
        }
    }
    else if (MoveIntoPlace(tempPath, names, reason, &stop, &result.placed))
        return result;
    result.outcome = stop.load() ? FinishOutcome::Stopped : FinishOutcome::SaveFailed;
    if (result.outcome == FinishOutcome::SaveFailed)
        result.error = wxString::Format(_("Error: can't save the file: %s"), reason);
    return result;
}
