#pragma once

#include <wx/thread.h>

#include <functional>

// One run of a download job's worker: a joinable thread made when the job starts and waited
// for before the job runs again or goes. A toolkit thread runs only once, and a job that is
// tried again needs a second run.
class JobThread : public wxThread
{
public:
    explicit JobThread(std::function<void()> body);

protected:
    ExitCode Entry() override;

private:
    std::function<void()> body;
};
