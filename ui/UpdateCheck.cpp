// The update check of the main window.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "lookup/ServiceRequest.h"
#include "lookup/UrlFetcher.h"
#include "ui/BlockingWork.h"
#include "ui/UpdateDlg.h"

#include <wx/scopeguard.h>
#include <wx/utils.h>

namespace
{
const wxString kVersionQuery = "/hub.php?s=curver";
// Everything after this marker, to the end of the reply, is the published version.
const wxString kVersionKey = "ROVOVIVOZ_VC";
} // namespace

void NorvikFrame::OnCheckForUpdates(wxCommandEvent&)
{
    updateCheckUnderWay = true;
    wxON_BLOCK_EXIT_SET(updateCheckUnderWay, false);
    // Ends the busy cursor on every way out.
    wxBusyCursor busy;
    const wxString request = ServiceRequestAddress(AppConfig().GetServiceUrl(), kVersionQuery);
    wxString reply;
    FetchOutcome outcome;
    {
        // Only the read blocks; the dialog afterwards must let ticks run as usual.
        BlockingWork work(blockingWork, true);
        outcome = FetchUrlText(request, reply);
    }
    // A failed or unrecognised reply leaves the flag clear, so the schedule tries again.
    if (outcome != FetchOutcome::Read)
        return;
    const int keyAt = reply.Find(kVersionKey);
    if (keyAt == wxNOT_FOUND)
        return;
    wxString published = reply.Mid(keyAt + kVersionKey.length());
    published.Trim(true);
    if (published.compare(kVersion) > 0)
    {
        UpdateDlg dialog(this, wxID_ANY, wxDefaultPosition, wxDefaultSize);
        dialog.ShowModal();
    }
    updateCheckDone = true;
}
