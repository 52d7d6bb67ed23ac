#pragma once

#include <wx/string.h>

#include <map>
#include <memory>

class wxNotificationMessage;
class wxCommandEvent;

// The desktop notifications of downloads that ended while the user looked elsewhere, one at
// a time per job; each lives until the job's next one, so its "Open" action can still answer.
class DownloadNotifier
{
public:
    DownloadNotifier();
    ~DownloadNotifier();

    // The file is done: its title and file name, with an action that opens the file.
    void NotifyDone(int job, const wxString& title, const wxString& path);
    // The download failed: its title and the error.
    void NotifyFailed(int job, const wxString& title, const wxString& error);

private:
    wxNotificationMessage& Fresh(int job, const wxString& title, const wxString& message);

    std::map<int, std::unique_ptr<wxNotificationMessage>> shown;
};
