// The update check of the main window.
#include "ui/NorvikFrame.h"

#include "config/AppConfig.h"
#include "lookup/ServiceAddress.h"
#include "lookup/ServiceRequest.h"
#include "lookup/UrlFetcher.h"
#include "lookup/VersionCompare.h"
#include "ui/BlockingWork.h"
#include "ui/UpdateDlg.h"

#include <wx/scopeguard.h>
#include <wx/utils.h>

namespace
{
const wxString kVersionQuery = "/hub.php?s=curver";
// The published version follows this marker.
const wxString kVersionKey = "ROVOVIVOZ_VC";
} // namespace

void NorvikFrame::OnCheckForUpdates(wxCommandEvent&)
{
    updateCheckUnderWay = true;
    wxON_BLOCK_EXIT_SET(updateCheckUnderWay, false);
    // Ends the busy cursor on every way out.
    wxBusyCursor busy;
    const wxString request = ServiceRequestAddress(ServiceAddress::ForRequest(), kVersionQuery);
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
    // The version is the first word after the key: blanks around it and lines after it
    // are no part of it. A text that is no version announces nothing.
    wxString published = reply.Mid(keyAt + kVersionKey.length());
    published.Trim(false);
    published = published.BeforeFirst(' ').BeforeFirst('\t').BeforeFirst('\r').BeforeFirst('\n');
    int order = 0;
    if (CompareVersions(published, kVersion, order) && order > 0)
    {
        UpdateDlg dialog(this, wxID_ANY, wxDefaultPosition, wxDefaultSize);
        dialog.ShowModal();
    }
    updateCheckDone = true;
}
