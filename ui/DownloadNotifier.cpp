#include "ui/DownloadNotifier.h"

#include "ui/DesktopActions.h"

#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/notifmsg.h>

namespace
{
const int kOpenAction = wxID_OPEN;
} // namespace

DownloadNotifier::DownloadNotifier() = default;
DownloadNotifier::~DownloadNotifier() = default;

wxNotificationMessage& DownloadNotifier::Fresh(int job, const wxString& title,
                                               const wxString& message)
{
    std::unique_ptr<wxNotificationMessage>& slot = shown[job];
    slot = std::make_unique<wxNotificationMessage>(title, message);
    return *slot;
}

void DownloadNotifier::NotifyDone(int job, const wxString& title, const wxString& path)
{
    wxNotificationMessage& note =
        Fresh(job, title, wxString::Format(_("Done: %s"), wxFileName(path).GetFullName()));
    // Servers that offer no actions show the notification without the button.
    note.AddAction(kOpenAction, _("Open"));
    note.Bind(wxEVT_NOTIFICATION_MESSAGE_ACTION,
              [path](wxCommandEvent&) { DesktopActions::OpenFile(path); });
    // Without a notification server the download's line still tells the outcome; the
    // toolkit's own complaint would be a dialog.
    wxLogNull quiet;
    note.Show();
}

void DownloadNotifier::NotifyFailed(int job, const wxString& title, const wxString& error)
{
    wxNotificationMessage& note = Fresh(job, title, error);
    // Told apart from a finished download at a glance, as the desktop shows errors.
    note.SetFlags(wxICON_ERROR);
    wxLogNull quiet;
    note.Show();
}
