#include "config/AppConfig.h"

#include "config/AutostartEntry.h"

#include <wx/convauto.h>
#include <wx/fileconf.h>
#include <wx/log.h>
#include <wx/stdpaths.h>

namespace
{
const wxString kAppName = "Norvik";
const wxString kVendorName = "Velmorra";
const wxString kVideoPathKey = "VideoPath";
const wxString kAudioPathKey = "AudioPath";
const wxString kAutorunKey = "Autorun";
const wxString kServiceUrlKey = "ServiceUrl";
const wxString kResolverUpdatesKey = "ResolverUpdates";
const wxString kResolverReleaseUrlKey = "ResolverReleaseUrl";
const wxString kJsRuntimeReleaseUrlKey = "JsRuntimeReleaseUrl";
const wxString kToolCheckTimeKey = "ToolCheckTime";
const wxString kToolCheckResultKey = "ToolCheckResult";
const wxString kBrowserSignInKey = "BrowserSignIn";
const wxString kWatchClipboardKey = "WatchClipboard";
const wxString kSpeedLimitKey = "SpeedLimitKiB";
const wxString kResumeAtStartKey = "ResumeAtStart";
const wxString kDefaultResolverReleaseUrl =
    "https://github.com/yt-dlp/yt-dlp/releases/latest/download/";
const wxString kDefaultJsRuntimeReleaseUrl =
    "https://github.com/denoland/deno/releases/latest/download/";
// The bundled stand-in service listens here unless told otherwise.
const wxString kDefaultServiceUrl = "http://127.0.0.1:8731";

wxString DocumentsDir()
{
    return wxStandardPaths::Get().GetDocumentsDir();
}
} // namespace

AppConfig::AppConfig()
    : config(new wxFileConfig(kAppName, kVendorName, wxString(), wxString(),
                              wxCONFIG_USE_LOCAL_FILE, wxConvAuto()))
{
}

AppConfig::~AppConfig()
{
    delete config;
}

wxString AppConfig::GetVideoPath() const
{
    return config->Read(kVideoPathKey, DocumentsDir());
}

void AppConfig::SetVideoPath(const wxString& path)
{
    config->Write(kVideoPathKey, path);
}

wxString AppConfig::GetAudioPath() const
{
    return config->Read(kAudioPathKey, DocumentsDir());
}

void AppConfig::SetAudioPath(const wxString& path)
{
    config->Write(kAudioPathKey, path);
}

bool AppConfig::GetAutorun() const
{
    // Anything but an exact "0" counts as on, the empty text included.
    return config->Read(kAutorunKey, wxString("1")) != "0";
}

void AppConfig::SetAutorun(bool autorun)
{
    config->Write(kAutorunKey, autorun);
}

bool AppConfig::GetWatchClipboard() const
{
    return config->Read(kWatchClipboardKey, wxString("1")) != "0";
}

void AppConfig::SetWatchClipboard(bool watch)
{
    config->Write(kWatchClipboardKey, watch);
}

long AppConfig::GetSpeedLimitKiB() const
{
    long kib = 0;
    if (!config->Read(kSpeedLimitKey, wxString()).ToLong(&kib) || kib < 0)
        return 0;
    return kib;
}

void AppConfig::SetSpeedLimitKiB(long kib)
{
    config->Write(kSpeedLimitKey, kib < 0 ? 0 : kib);
}

bool AppConfig::GetResumeAtStart() const
{
    return config->Read(kResumeAtStartKey, wxString("0")) == "1";
}

void AppConfig::SetResumeAtStart(bool resume)
{
    config->Write(kResumeAtStartKey, resume);
}

wxString AppConfig::GetServiceUrl() const
{
    // A user who set the key gets exactly that address, even an empty one.
    wxString url;
    if (config->Read(kServiceUrlKey, &url))
        return url;
    return kDefaultServiceUrl;
}

bool AppConfig::NamesService() const
{
    return config->HasEntry(kServiceUrlKey);
}

bool AppConfig::GetResolverUpdates() const
{
    return config->Read(kResolverUpdatesKey, wxString("1")) != "0";
}

wxString AppConfig::GetResolverReleaseUrl() const
{
    return config->Read(kResolverReleaseUrlKey, kDefaultResolverReleaseUrl);
}

wxString AppConfig::GetJsRuntimeReleaseUrl() const
{
    return config->Read(kJsRuntimeReleaseUrlKey, kDefaultJsRuntimeReleaseUrl);
}

long AppConfig::GetToolCheckTime() const
{
    return config->ReadLong(kToolCheckTimeKey, 0);
}

wxString AppConfig::GetToolCheckResult() const
{
    return config->Read(kToolCheckResultKey, wxString());
}

void AppConfig::SetToolCheck(long time, const wxString& result)
{
    config->Write(kToolCheckTimeKey, time);
    config->Write(kToolCheckResultKey, result);
}

wxString AppConfig::GetBrowserSignIn() const
{
    // A name yt-dlp does not know would fail every lookup; none is the safe reading.
    const wxString browser = config->Read(kBrowserSignInKey, wxString());
    return SignInBrowsers().Index(browser) == wxNOT_FOUND ? wxString() : browser;
}

void AppConfig::SetBrowserSignIn(const wxString& browser)
{
    config->Write(kBrowserSignInKey, browser);
}

const wxArrayString& AppConfig::SignInBrowsers()
{
    static const wxArrayString browsers = []
    {
        wxArrayString names;
        for (const char* name :
             {"firefox", "chromium", "chrome", "brave", "edge", "opera", "vivaldi"})
            names.Add(name);
        return names;
    }();
    return browsers;
}

wxString AppConfig::GetExecutablePath() const
{
    return wxStandardPaths::Get().GetExecutablePath();
}

bool AppConfig::UpdateAutorunEntry(AutostartEntry::Switch desktopSwitch)
{
    // The caller decides whether a failure is worth a word; the settings file is unaffected.
    wxLogNull quiet;
    if (GetAutorun())
        return AutostartEntry::Write(GetExecutablePath(), desktopSwitch);
    return AutostartEntry::Remove();
}
