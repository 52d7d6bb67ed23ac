#pragma once

#include <wx/app.h>
#include <wx/intl.h>

#include <memory>

class LocalService;
class InstanceLock;

// The application: one copy per user, the locale, the libraries, then the main window.
class NorvikApp : public wxApp
{
public:
    NorvikApp();
    ~NorvikApp() override;
    bool OnInit() override;
    // Ends the service this program started; every way the main loop ends passes here.
    int OnExit() override;

private:
    // The address of the service run beside the program, started on first use and again
    // after it ended; a failure is logged to the standard error.
    wxString OwnServiceUrl();
    void StopOwnService();

    // Held for the whole run; the kernel releases it when the process ends.
    std::unique_ptr<InstanceLock> instanceLock;
    wxLocale locale;
    // Whether the constructor chose the display back-end, to be taken back once GTK runs.
    bool backendForced = false;
    // Runs only while the settings name no service and something asked for one.
    std::unique_ptr<LocalService> ownService;
    // The browser whose sign-in the running service was given; another choice restarts it.
    wxString ownServiceBrowser;
};
