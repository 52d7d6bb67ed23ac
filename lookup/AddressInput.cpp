// The addresses the user hands the main window: Enter in the address field, Ctrl+V outside a
// text field and a link dropped on the window.
#include "ui/NorvikFrame.h"

#include "lookup/GivenAddress.h"
#include "lookup/VideoPageUrl.h"
#include "ui/AddressDropTarget.h"

#include <wx/textctrl.h>
#include <wx/weakref.h>

#include <gtk/gtk.h>

#include <memory>

namespace
{
constexpr int kPasteKey = 'V';

// The window a pasted text is for; gone by the time the answer comes if the window went.
struct PasteRequest
{
    wxWeakRef<NorvikFrame> frame;
};

void OnPastedText(GtkClipboard*, const gchar* text, gpointer data)
{
    const std::unique_ptr<PasteRequest> request(static_cast<PasteRequest*>(data));
    if (request->frame && !request->frame->quitting && text)
        request->frame->TakeUpGivenText(wxString::FromUTF8(text), true);
}
} // namespace

void NorvikFrame::BindAddressInput()
{
    Bind(wxEVT_TEXT_ENTER, &NorvikFrame::LoadVideo, this, ID_TEXTCTRL1);
    Bind(wxEVT_CHAR_HOOK, &NorvikFrame::OnAddressKey, this);
    const auto take = [this](const wxString& text) { TakeUpGivenText(text, false); };
    SetDropTarget(new AddressDropTarget(take));
    // Text fields take drops themselves (inserting the text where it fell): these load it.
    urlText->SetDropTarget(new AddressDropTarget(take));
    titleText->SetDropTarget(new AddressDropTarget(take));
}

void NorvikFrame::OnAddressKey(wxKeyEvent& event)
{
    // In a text field Ctrl+V is the field's own paste.
    if (event.GetKeyCode() != kPasteKey || event.GetModifiers() != wxMOD_CONTROL ||
        wxDynamicCast(FindFocus(), wxTextCtrl))
    {
        event.Skip();
        return;
    }
    // Asked without waiting: the toolkit's read would hold the window until the clipboard's
    // owner answers, a minute for one that hangs. The answer comes from the main loop.
    gtk_clipboard_request_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), OnPastedText,
                               new PasteRequest{this});
}

void NorvikFrame::TakeUpGivenText(const wxString& text, bool fromClipboard)
{
    const wxString address = GivenAddress(text);
    if (address.empty())
        return;
    if (fromClipboard && IsVideoPageUrl(text))
        lastClipboardUrl = text;
    urlText->SetValue(address);
    wxCommandEvent none(wxEVT_NULL, 0);
    LoadVideo(none);
}
