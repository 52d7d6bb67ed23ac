#include "app/NorvikApp.h"

#include "app/InstanceLock.h"
#include "app/StartupArguments.h"
#include "app/StartupEnvironment.h"

#include "config/AppConfig.h"
#include "download/DownloadJournal.h"
#include "download/RememberedDownloads.h"
#include "download/TempFileRegistry.h"
#include "lookup/HttpFsHandler.h"
#include "lookup/LocalService.h"
#include "lookup/ServiceAddress.h"
#include "ui/DisplayLoss.h"
#include "ui/NorvikFrame.h"
#include "ui/PictureDecoders.h"
#include "ui/QuitHooks.h"
#include "ui/QuitSignals.h"
#include "update/ToolUpdates.h"
#include "update/UpdateCheck.h"

#include <curl/curl.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/msgout.h>
#include <wx/socket.h>
#include <wx/stdpaths.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include <ctime>

namespace
{
const wxString kCatalogue = "norvik";
// Installed, and in the build folder, the service program sits beside this one.
const wxString kServiceProgram = "norvik-service";
} // namespace

NorvikApp::NorvikApp() : backendForced(ForceX11Backend()) {}

NorvikApp::~NorvikApp()
{
    StopOwnService();
}

bool NorvikApp::OnInit()
{
    // GTK has started by now and keeps the back-end it chose.
    ReleaseForcedBackend(backendForced);

    instanceLock = std::make_unique<InstanceLock>();
    const wxString instanceName = GetAppName() + "-" + wxGetUserId();
    if (AnotherInstanceRuns(*instanceLock, instanceName))
    {
        instanceLock.reset();
        return false;
    }

    // Only one run of this user gets here at a time: what earlier runs left is theirs to
    // take away, and this run's own list starts. The partial files the journal of downloads
    // names stay for their retries, until nobody came back for them in a month.
    const wxString runsFolder = TempFileRegistry::DefaultFolder();
    RememberedDownloads::RemoveLeftovers(runsFolder, DownloadJournal::DefaultPath(),
                                         std::time(nullptr));
    TempFileRegistry::Open(runsFolder);

    AppConfig config;
    config.UpdateAutorunEntry();
    ServiceAddress::SetOwnServiceSource([this] { return OwnServiceUrl(); });
    // The quits that end the process at once (a signal inside a dialog, a lost display)
    // never reach OnExit: the service goes with every quit's first step.
    QuitHooks::Add([this] { StopOwnService(); });

    {
        // A language without a catalogue or locale is not worth a word: English stands.
        wxLogNull quiet;
        locale.Init(wxLocale::GetSystemLanguage(), 0);
        // The catalogue is found beside the program in the build folder, and under the
        // installed prefix's share/locale.
        const wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
        wxLocale::AddCatalogLookupPathPrefix(exe.GetPath() + "/locale");
        wxLocale::AddCatalogLookupPathPrefix(exe.GetPath() + "/../share/locale");
        locale.AddCatalog(kCatalogue);
    }

    wxSocketBase::Initialize();
    HttpFsHandler::Install();
    curl_global_init(CURL_GLOBAL_ALL);
    RegisterPictureDecoders();

    auto* frame = new NorvikFrame(nullptr, wxID_ANY);
    const wxArrayString arguments = argv.GetArguments();
    const bool hidden = IsLogOnStart(int(arguments.size()), arguments.begin());
    if (!hidden)
        frame->Show(true);
    else if (!wxTaskBarIcon::IsAvailable())
    {
        // Nowhere to come back from: start minimised instead of hidden.
        frame->Iconize(true);
        frame->Show(true);
    }
    SetTopWindow(frame);
    // On its own thread: the window is up before the first byte arrives.
    ToolUpdates::StartIfDue();

    // A signal or a lost display may come after the window is gone, while the program ends.
    const wxWeakRef<NorvikFrame> window(frame);
    QuitSignals::Install(
        [window]
        {
            if (window)
                window->QuitOnSignal();
        });
    DisplayLoss::Install(
        [window]
        {
            if (window)
                window->EndJobsAndRemoveFiles();
            else
                TempFileRegistry::RemoveAll();
        });
    return true;
}

int NorvikApp::OnExit()
{
    StopOwnService();
    UpdateCheck::Stop();
    // The signals stay caught: one that comes now finds the quit already under way.
    TempFileRegistry::RemoveAll();
    TempFileRegistry::Close();
    return wxApp::OnExit();
}

void NorvikApp::StopOwnService()
{
    ServiceAddress::SetOwnServiceSource(nullptr);
    ownService.reset();
}

wxString NorvikApp::OwnServiceUrl()
{
    const AppConfig settings;
    // The browser's sign-in is given at start: a new choice needs a new service. A tool that
    // appears or is replaced needs none, as the service finds it on its resolver's PATH.
    if (ownService && settings.GetBrowserSignIn() != ownServiceBrowser)
    {
        wxMessageOutputStderr().Printf(
            "norvik: the browser's sign-in changed; starting the metadata service again\n");
        ownService.reset();
    }
    if (!ownService)
    {
        const wxFileName exe(wxStandardPaths::Get().GetExecutablePath());
        ownServiceBrowser = settings.GetBrowserSignIn();
        ownService = std::make_unique<LocalService>(
            wxFileName(exe.GetPath(), kServiceProgram).GetFullPath().utf8_string(),
            ToolUpdates::ServiceArguments(settings));
    }
    else if (ownService->IsRunning())
        return wxString::FromUTF8(ownService->GetUrl());
    else if (!ownService->LastEnd().empty())
        wxMessageOutputStderr().Printf(
            "norvik: the metadata service ended (%s); starting it again\n", ownService->LastEnd());
    std::string error;
    if (!ownService->Start(error))
    {
        wxMessageOutputStderr().Printf("norvik: cannot start the metadata service: %s\n",
                                       wxString::FromUTF8(error));
        return LocalService::kUnavailableUrl;
    }
    return wxString::FromUTF8(ownService->GetUrl());
}
