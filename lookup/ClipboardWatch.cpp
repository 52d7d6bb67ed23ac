// The clipboard watch of the main window: a copied video address is loaded by itself.
#include "ui/NorvikFrame.h"

#include "lookup/VideoPageUrl.h"
#include "ui/ClipboardReader.h"

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/textctrl.h>

void NorvikFrame::CheckClipboard()
{
    if (clipboardReader && clipboardReader->IsOk())
    {
        // The answer to the question of an earlier tick, if it has come.
        wxString text;
        if (clipboardReader->Poll(text))
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
