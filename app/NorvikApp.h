#pragma once

#include <wx/app.h>
#include <wx/intl.h>

#include <memory>

class wxSingleInstanceChecker;

// The application: one copy per user, the locale, the libraries, then the main window.
class NorvikApp : public wxApp
{
public:
    NorvikApp();
    ~NorvikApp() override;
    bool OnInit() override;
    int OnExit() override;

private:
    std::unique_ptr<wxSingleInstanceChecker> instanceChecker;
    wxLocale locale;
};
