#include "lookup/VideoReply.h"

#include "lookup/ReplyFormat.h"

#include <algorithm>
#include <cwchar>

const wxString kMp3Line = "audio/mp3 audio/music";

namespace
{
const wxString kMp3Type = "mp3";
const wxString kMp3Extension = ".mp3";

// Leading digits count and the rest is ignored ("12abc" is 12); no number at all is none.
// Records past the room of the table are ignored; a negative count lists nothing.
int RecordCount(const wxString& announced)
{
    const wxWCharBuffer digits = announced.wc_str();
    wchar_t* end = nullptr;
    const long count = std::wcstol(digits.data(), &end, 10);
    if (end == digits.data())
        return 0;
    return int(std::clamp(count, 0L, long(kMaxRecords)));
}

// The last record whose line names an FLV type, or -1. The line is searched, quality and
// all, for both spellings of the type. An FLV stream whose sound the service names as another
// codec than MP3 is passed over: its sound copied as it is would not be an MP3.
int FindFlvRecord(const std::vector<StreamRecord>& records)
{
    int found = -1;
    for (size_t i = 0; i < records.size(); ++i)
    {
        const wxString line = FormatsLine(records[i]);
        const bool mp3Sound = records[i].sound.empty() || records[i].sound == kMp3Type;
        if ((line.Contains("video/flv") || line.Contains("video/x-flv")) && mp3Sound)
            found = int(i);
    }
    return found;
}
} // namespace

bool IsMp3Entry(const StreamRecord& record)
{
    return record.type == kMp3Type;
}

wxString FormatsLine(const StreamRecord& record)
{
    if (IsMp3Entry(record))
        return kMp3Line;
    return record.type + " " + record.quality;
}

VideoReply ParseVideoReplyText(const wxString& reply)
{
    VideoReply parsed;
    if (GetReplyValue("status", reply).Lower() != "ok")
    {
        parsed.failureReason = GetReplyValue("reason", reply);
        parsed.failureMessage = GetReplyValue("message", reply);
        return parsed;
    }
    parsed.ok = true;
    parsed.title = GetReplyValue("title", reply);
    parsed.cleanedTitle = GetReplyValue("cleanedtitle", reply);
    parsed.thumbnailUrl = GetReplyValue("thumbnail", reply);
    parsed.thumbnailUrl.Replace("https://", "http://");

    const int count = RecordCount(GetReplyValue("nrecords", reply));
    for (int i = 0; i < count; ++i)
    {
        StreamRecord rec;
        rec.title = parsed.title;
        rec.itag = GetReplyValue(wxString::Format("itag%d", i), reply);
        rec.url = GetReplyValue(wxString::Format("url%d", i), reply);
        rec.type = GetReplyValue(wxString::Format("type%d", i), reply);
        rec.quality = GetReplyValue(wxString::Format("quality%d", i), reply);
        rec.size = GetReplyValue(wxString::Format("size%d", i), reply);
        rec.sound = GetReplyValue(wxString::Format("sound%d", i), reply).Lower();
        rec.extension = ExtensionForType(rec.type);
        parsed.records.push_back(rec);
    }

    parsed.flvIndex = FindFlvRecord(parsed.records);
    // The MP3 entry takes a place of the table, so it is offered only when one is free.
    if (parsed.flvIndex >= 0 && parsed.records.size() < size_t(kMaxRecords))
    {
        StreamRecord mp3 = parsed.records[size_t(parsed.flvIndex)];
        mp3.type = kMp3Type;
        mp3.extension = kMp3Extension;
        parsed.records.push_back(mp3);
    }
    return parsed;
}
