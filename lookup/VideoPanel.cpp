// The video panel of the main window: the Load action, the lookup against the metadata
// service and the preview.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "download/OutputPath.h"
#include "download/TempFileRegistry.h"
#include "lookup/PreviewPage.h"
#include "lookup/ReplyFormat.h"
#include "lookup/ServiceRequest.h"
#include "lookup/UrlFetcher.h"
#include "lookup/VideoPageUrl.h"
#include "ui/BlockingWork.h"

#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/html/htmlwin.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <cwchar>

namespace
{
const wxString kApiPath = "/api/?videoid=";
const wxString kRecordTempPrefix = wxString(TempFileRegistry::kTempNamePrefix) + "-";
const wxString kMp3Line = "audio/mp3 audio/music";
const wxString kMp3Type = "mp3";
const wxString kMp3Extension = ".mp3";
const wxString kAudioExtension = ".m4a";

} // namespace

void NorvikFrame::LoadVideo(wxCommandEvent&)
{
    bool found = false;
    {
        // The lookup, its message boxes and the thumbnail wait inside the toolkit: nothing
        // else may run in between.
        BlockingWork work(blockingWork, true);
        wxBeginBusyCursor(wxHOURGLASS_CURSOR);
        ClearVideoPanel();
        const wxString address = urlText->GetValue();
        if (GetVideoId(address).length() == kVideoIdLength)
            found = LookupVideo(address);
        else
            titleText->SetValue(_("Not a valid URL"));
        wxEndBusyCursor();
    }
    // Brought forward once the window takes input again.
    if (found)
    {
        Iconize(false);
        SetFocus();
        Show(true);
        Raise();
        // The toolkit's request reaches for the running event loop and crashes without one.
        if (wxEventLoopBase::GetActive())
            RequestUserAttention(wxUSER_ATTENTION_INFO);
    }
}

bool NorvikFrame::ClearVideoPanel()
{
    RemoveUnusedTempFiles();
    recordCount = 0;
    flvIndex = -1;
    thumbnailUrl.clear();
    videoTitle.clear();
    formatsList->Clear();
    formatsList->Disable();
    downloadButton->Disable();
    ShowVideoPreview();
    return true;
}

bool NorvikFrame::ShowVideoPreview()
{
    previewHtml->SetPage(MakePreviewPage(thumbnailUrl));
    titleText->SetValue(videoTitle);
    return true;
}

bool NorvikFrame::ParseVideoReply(const wxString& reply)
{
    if (GetReplyValue("status", reply).Lower() != "ok")
        return false;
    videoTitle = GetReplyValue("title", reply);
    cleanedTitle = GetReplyValue("cleanedtitle", reply);
    thumbnailUrl = GetReplyValue("thumbnail", reply);
    thumbnailUrl.Replace("https://", "http://");
    // Leading digits count and the rest is ignored ("12abc" is 12); with no number at all
    // the count stays as the emptied panel left it.
    // Records past the room of the table are ignored; a negative count lists nothing.
    const wxString announced = GetReplyValue("nrecords", reply);
    const wxWCharBuffer digits = announced.wc_str();
    wchar_t* end = nullptr;
    const long count = std::wcstol(digits.data(), &end, 10);
    if (end != digits.data())
        recordCount = std::int32_t(std::clamp(count, 0L, long(kMaxRecords)));

    AppConfig config;
    const wxString videoFolder = config.GetVideoPath();
    const wxString audioFolder = config.GetAudioPath();
    for (int i = 0; i < recordCount; ++i)
    {
        StreamRecord& rec = records[i];
        rec = StreamRecord();
        rec.title = videoTitle;
        rec.itag = GetReplyValue(wxString::Format("itag%d", i), reply);
        rec.url = GetReplyValue(wxString::Format("url%d", i), reply);
        rec.type = GetReplyValue(wxString::Format("type%d", i), reply);
        rec.quality = GetReplyValue(wxString::Format("quality%d", i), reply);
        rec.size = GetReplyValue(wxString::Format("size%d", i), reply);
        rec.extension = ExtensionForType(rec.type);
        rec.outputPath =
            MakeOutputPath(rec.extension == kAudioExtension ? audioFolder : videoFolder, videoTitle,
                           rec.extension);
        rec.tempPath = TempFileRegistry::CreateTempFile(kRecordTempPrefix);
    }
    return true;
}

bool NorvikFrame::LookupVideo(const wxString& address)
{
    wxBeginBusyCursor(wxHOURGLASS_CURSOR);
    // An id is any eleven characters of the address: a blank in it would make the request
    // an address no client accepts.
    const wxString request = ServiceRequestAddress(AppConfig().GetServiceUrl(),
                                                   kApiPath + EscapeQueryValue(GetVideoId(address)));
    wxString reply;
    const FetchOutcome outcome = FetchUrlText(request, reply);
    if (outcome != FetchOutcome::Read)
    {
        wxMessageBox(outcome == FetchOutcome::NotOpened
                         ? _("API Server is not responding - Please retry later 2.")
                         : _("API Server is not responding - Please retry later 1."),
                     wxMessageBoxCaptionStr, wxOK | wxCENTRE);
        wxEndBusyCursor();
        return false;
    }
    ParseVideoReply(reply);

    flvIndex = -1;
    formatsList->Enable();
    for (int i = 0; i < recordCount; ++i)
    {
        const wxString line = records[i].type + " " + records[i].quality;
        formatsList->Append(line);
        if (line.Contains("video/flv"))
            flvIndex = i;
        if (line.Contains("video/x-flv"))
            flvIndex = i;
    }
    // The MP3 entry takes a place of the table, so it is offered only when one is free.
    if (flvIndex >= 0 && recordCount < kMaxRecords)
    {
        formatsList->Append(kMp3Line);
        StreamRecord& mp3 = records[recordCount];
        mp3 = records[flvIndex];
        mp3.type = kMp3Type;
        mp3.extension = kMp3Extension;
        mp3.outputPath = MakeOutputPath(AppConfig().GetAudioPath(), mp3.title, kMp3Extension);
        // Its own temporary file: the FLV entry may be downloading into the other one.
        mp3.tempPath = TempFileRegistry::CreateTempFile(kRecordTempPrefix);
        ++recordCount;
    }
    bool listed = formatsList->GetCount() > 0;
    if (listed)
    {
        formatsList->SetSelection(0);
        downloadButton->Enable();
    }
    else
    {
        downloadButton->Disable();
    }
    ShowVideoPreview();
    wxEndBusyCursor();
    return listed;
}

void NorvikFrame::RemoveUnusedTempFiles()
{
    // A record hands its temporary file to the job that downloads it (its tempPath is then
    // emptied); the files still named here belong to nobody.
    for (int i = 0; i < recordCount; ++i)
    {
        if (!records[i].tempPath.empty())
            TempFileRegistry::Remove(records[i].tempPath);
        records[i].tempPath.clear();
    }
}
