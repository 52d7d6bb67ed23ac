// The clipboard watch of the main window: a copied video address is loaded by itself.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "lookup/VideoPageUrl.h"
#include "ui/ClipboardReader.h"

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/textctrl.h>

void NorvikFrame::CheckClipboard()
{
    // Turned off, the clipboard's owner is never asked: the user may not want every copied
    // text to reach this program.
    if (!watchClipboard)
        return;
    if (clipboardReader && clipboardReader->IsOk())
    {
        // The answer to the question of an earlier tick, if it has come.
        wxString text;
        if (!clipboardReader->Poll(text))
            return;
        // What was copied while the watch was off is no newly copied address.
        if (skipNextClipboardText)
            skipNextClipboardText = false;
        else
            TakeUpClipboardText(text);
        return;
    }
    // Without X: the toolkit's read, which waits for the owner.
    if (!wxTheClipboard->Open())
        return;
    wxTextDataObject data;
    data.SetFormat(wxDF_UNICODETEXT);
    wxTheClipboard->GetData(data);
    TakeUpClipboardText(data.GetText());
    wxTheClipboard->Close();
}

void NorvikFrame::TakeUpClipboardText(const wxString& text)
{
    if (!text.empty() && text != lastClipboardUrl && IsVideoPageUrl(text))
    {
        // Remembered before the load, so a failing address is not retried at every tick.
        lastClipboardUrl = text;
        urlText->SetValue(text);
        wxCommandEvent none(wxEVT_NULL, 0);
        LoadVideo(none);
    }
}

void NorvikFrame::SetClipboardWatch(bool on)
{
    {
        AppConfig settings;
        if (settings.GetWatchClipboard() != on)
            settings.SetWatchClipboard(on);
    }
    if (on == watchClipboard)
        return;
    watchClipboard = on;
    // Off, the reader goes with its connection to the display; a new one asks afresh.
    clipboardReader.reset();
    if (on)
    {
        clipboardReader = std::make_unique<ClipboardReader>();
        skipNextClipboardText = true;
    }
}
