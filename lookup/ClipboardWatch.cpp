// The clipboard watch of the main window: a copied video address is loaded by itself.
#include "ui/NorvikFrame.h"

#include "lookup/VideoPageUrl.h"

#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/textctrl.h>

void NorvikFrame::CheckClipboard()
{
    if (!wxTheClipboard->Open())
        return;
    wxTextDataObject data;
    data.SetFormat(wxDF_UNICODETEXT);
    wxTheClipboard->GetData(data);
    const wxString text = data.GetText();
    if (!text.empty() && text != lastClipboardUrl && IsVideoPageUrl(text))
    {
        // Remembered before the load, so a failing address is not retried at every tick.
        lastClipboardUrl = text;
        urlText->SetValue(text);
        wxCommandEvent none(wxEVT_NULL, 0);
        LoadVideo(none);
    }
    wxTheClipboard->Close();
}
