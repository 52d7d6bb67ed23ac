#pragma once

#include "lookup/StreamRecord.h"

#include <wx/string.h>

#include <vector>

// A metadata service reply read into what the video panel shows: the title, the picture, the
// records in the order of the formats list (the MP3 entry last, when there is one) and, for
// a failed lookup, why. Output paths and temporary files are not made here: they depend on
// the settings and the file system, and belong to whoever lists the records.
struct VideoReply
{
    // The reply's status was "ok".
    bool ok = false;
    wxString title;
    wxString cleanedTitle;
    // With every "https://" turned into "http://": the preview's client speaks plain HTTP.
    wxString thumbnailUrl;
    // Each with title, itag, url, type, quality, size and extension filled.
    std::vector<StreamRecord> records;
    // The record the MP3 entry was made from, or -1.
    int flvIndex = -1;
    // Of a failed lookup, when the service said: one word of a fixed list, and a line for
    // people. Both empty from a service that does not say.
    wxString failureReason;
    wxString failureMessage;
};

// The text of the MP3 entry's line in the formats list.
extern const wxString kMp3Line;

// Reads a whole reply. The count of records is bounded by the table's room (kMaxRecords);
// the MP3 entry is added after the FLV record found last, when the table has room for it.
VideoReply ParseVideoReplyText(const wxString& reply);

// True for the MP3 entry that the reply's FLV record gave.
bool IsMp3Entry(const StreamRecord& record);

// The line of the formats list for a record: its type, a blank and its quality; the MP3
// entry's own line for the MP3 entry.
wxString FormatsLine(const StreamRecord& record);
