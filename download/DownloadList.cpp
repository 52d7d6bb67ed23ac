// The Download action and the downloads list of the main window.
#include "ui/NorvikFrame.h"

#include "download/DownloadLine.h"

#include <wx/intl.h>
#include <wx/listbox.h>
#include <wx/msgdlg.h>

void NorvikFrame::OnDownload(wxCommandEvent&)
{
    const int selected = formatsList->GetSelection();
    if (selected < 0 || selected >= recordCount)
        return;
    StreamRecord& chosen = records[selected];
    for (Downloader& job : downloaders)
    {
        const DownloadState state = job.GetState();
        const StreamRecord running = job.GetRecord();
        if (state == Busy && running.outputPath == chosen.outputPath)
        {
            wxMessageBox(_("You are already downloading this file."));
            return;
        }
        if (state == Idle)
        {
            job.SetRecord(chosen);
            job.start();
            // The job owns the temporary file now; a later download of the same line makes
            // a fresh one, so two jobs never write the same file.
            if (job.GetState() != Idle)
                chosen.tempPath.clear();
            return;
        }
    }
}

void NorvikFrame::RefreshDownloadsList()
{
    const unsigned count = downloadsList->GetCount();
    for (unsigned i = 0; i < unsigned(kJobCount); ++i)
    {
        const DownloadState state = downloaders[i].GetState();
        if (state == Idle)
            continue;
        const wxString line =
            MakeDownloadLine(downloaders[i].GetRecord(), state, downloaders[i].GetProgress());
        if (i < count)
            downloadsList->SetString(i, line);
        else
            downloadsList->Append(line);
    }
}
