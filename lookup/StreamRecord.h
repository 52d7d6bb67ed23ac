#pragma once

#include <wx/string.h>

// One stream of a video. Always copied whole.
struct StreamRecord
{
    wxString title;
    wxString outputPath;
    wxString tempPath;
    wxString itag;
    wxString url;
    wxString type;
    wxString quality;
    wxString size;
    wxString extension;
    // The sound codec as the service names it ("mp3", "aac"); empty when it did not say.
    wxString sound;
    wxString statusText;
};

// Room in the record table of the current video, the MP3 entry included.
constexpr int kMaxRecords = 32;
