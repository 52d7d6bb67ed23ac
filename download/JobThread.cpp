#include "download/JobThread.h"

JobThread::JobThread(std::function<void()> body)
    : wxThread(wxTHREAD_JOINABLE), body(std::move(body))
{
}

wxThread::ExitCode JobThread::Entry()
{
    body();
    return 0;
}
