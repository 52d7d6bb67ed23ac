// The video panel of the main window: the Load action, the lookup against the metadata
// service (read in the background) and the preview.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "download/OutputPath.h"
#include "download/TempFileRegistry.h"
#include "lookup/LookupFailure.h"
#include "lookup/LookupRequest.h"
#include "lookup/PreviewPage.h"
#include "lookup/ServiceAddress.h"
#include "lookup/ServiceRequest.h"
#include "lookup/VideoReply.h"
#include "ui/BlockingWork.h"

#include <wx/activityindicator.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/html/htmlwin.h>
#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace
{
const wxString kRecordTempPrefix = wxString(TempFileRegistry::kTempNamePrefix) + "-";
const wxString kAudioExtension = ".m4a";
} // namespace

void NorvikFrame::LoadVideo(wxCommandEvent&)
{
    const wxString address = urlText->GetValue();
    const wxString path = LookupPath(address);
    // The same address again while its lookup runs (Enter, then Load; a paste of what the
    // clipboard watch took up): the answer is on its way.
    if (!path.empty() && lookup &&
        lookup->Address() == ServiceRequestAddress(ServiceAddress::ForRequest(), path))
        return;
    ClearVideoPanel();
    if (!path.empty())
        LookupVideo(address);
    else
        titleText->SetValue(_("Not a valid URL"));
}

bool NorvikFrame::ClearVideoPanel()
{
    // A newer Load supersedes the lookup under way: its answer must never show.
    EndLookup();
    RemoveUnusedTempFiles();
    recordCount = 0;
    flvIndex = -1;
    thumbnailUrl.clear();
    videoTitle.clear();
    formatsList->Clear();
    formatsList->Disable();
    downloadButton->Disable();
    ShowLookupStatus(wxString(), wxString(), false);
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
    const VideoReply parsed = ParseVideoReplyText(reply);
    if (!parsed.ok)
        return false;
    videoTitle = parsed.title;
    cleanedTitle = parsed.cleanedTitle;
    thumbnailUrl = parsed.thumbnailUrl;
    flvIndex = parsed.flvIndex;
    recordCount = std::int32_t(parsed.records.size());

    AppConfig config;
    const wxString videoFolder = config.GetVideoPath();
    const wxString audioFolder = config.GetAudioPath();
    for (int i = 0; i < recordCount; ++i)
    {
        StreamRecord& rec = records[i];
        rec = parsed.records[size_t(i)];
        // The audio folder takes the service's M4A streams and the "audio/mp3 audio/music" line,
        // whether it is the FLV stream's MP3 entry or the service's MP3 of any video's sound.
        const bool audio = rec.extension == kAudioExtension || FormatsLine(rec) == kMp3Line;
        rec.outputPath =
            MakeOutputPath(audio ? audioFolder : videoFolder, videoTitle, rec.extension);
        // One file per record, the MP3 entry's too: the FLV entry may be downloading into
        // the other one.
        rec.tempPath = TempFileRegistry::CreateTempFile(kRecordTempPrefix);
    }
    return true;
}

bool NorvikFrame::LookupVideo(const wxString& address)
{
    const wxString request =
        ServiceRequestAddress(ServiceAddress::ForRequest(), LookupPath(address));
    const std::uint64_t number = ++lookupNumber;
    lookup = std::make_unique<LookupRequest>(
        request,
        [this, number](FetchOutcome outcome, const wxString& text)
        {
            // From the request's thread: the window is touched only on its own.
            CallAfter([this, number, outcome, text] { OnLookupReply(number, outcome, text); });
        });
    ShowLookupStatus(_("Looking up the video..."), wxString(), true);
    return true;
}

void NorvikFrame::OnLookupReply(std::uint64_t number, FetchOutcome outcome, const wxString& reply)
{
    // The answer to a lookup that a newer one superseded, or that ended with the window.
    if (number != lookupNumber || !lookup)
        return;
    EndLookup();
    ShowLookupStatus(wxString(), wxString(), false);
    // The message boxes and the preview's picture wait inside the toolkit: nothing else may
    // run in between.
    BlockingWork work(blockingWork, true);
    if (outcome != FetchOutcome::Read)
    {
        wxMessageBox(outcome == FetchOutcome::NotOpened
                         ? _("API Server is not responding - Please retry later 2.")
                         : _("API Server is not responding - Please retry later 1."),
                     wxMessageBoxCaptionStr, wxOK | wxCENTRE);
        return;
    }
    if (!ParseVideoReply(reply))
    {
        const VideoReply failed = ParseVideoReplyText(reply);
        ShowLookupStatus(LookupFailureText(failed.failureReason), failed.failureMessage, false);
    }

    formatsList->Enable();
    for (int i = 0; i < recordCount; ++i)
        formatsList->Append(FormatsLine(records[i]));
    const bool listed = formatsList->GetCount() > 0;
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
    if (listed)
        BringForward();
}

void NorvikFrame::BringForward()
{
    Iconize(false);
    SetFocus();
    Show(true);
    Raise();
    // The toolkit's request reaches for the running event loop and crashes without one.
    if (wxEventLoopBase::GetActive())
        RequestUserAttention(wxUSER_ATTENTION_INFO);
}

void NorvikFrame::EndLookup()
{
    // Destroying the request cancels it and waits for its thread, which a cancel wakes at once.
    lookup.reset();
}

void NorvikFrame::ShowLookupStatus(const wxString& text, const wxString& tooltip, bool busy)
{
    if (busy)
        lookupSpinner->Start();
    else
        lookupSpinner->Stop();
    lookupSpinner->Show(busy);
    lookupStatus->SetLabel(text);
    lookupStatus->SetToolTip(tooltip);
    lookupStatus->Show(!text.empty());
    Layout();
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
