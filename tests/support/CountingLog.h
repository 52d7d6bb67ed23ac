#pragma once

#include <wx/log.h>

// Counts what reaches the log while the object lives, then gives the log back to the target it
// had: in the program each message would be a dialog.
class CountingLog : public wxLog
{
public:
    CountingLog() : previous(wxLog::SetActiveTarget(this)) {}
    ~CountingLog() override { wxLog::SetActiveTarget(previous); }
    CountingLog(const CountingLog&) = delete;
    CountingLog& operator=(const CountingLog&) = delete;

    int Count()
    {
        wxLog::FlushActive();
        return count;
    }

protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++count; }

private:
    wxLog* previous;
    int count = 0;
};
