#pragma once

#include "config/AutostartEntry.h"

#include <wx/arrstr.h>
#include <wx/string.h>

#include <functional>

class wxFileConfig;

// The user's settings, read afresh for every operation: create one, use it, let it go.
// Changes reach the file when the store is destroyed.
class AppConfig
{
public:
    AppConfig();
    virtual ~AppConfig();
    AppConfig(const AppConfig&) = delete;
    AppConfig& operator=(const AppConfig&) = delete;

    wxString GetVideoPath() const;
    void SetVideoPath(const wxString& path);
    wxString GetAudioPath() const;
    void SetAudioPath(const wxString& path);
    bool GetAutorun() const;
    void SetAutorun(bool autorun);
    // Whether a video address copied anywhere is looked up by itself; on unless turned off.
    bool GetWatchClipboard() const;
    void SetWatchClipboard(bool watch);
    // Each download's speed limit in KiB/s; 0 for none. A negative or unreadable value reads
    // as none.
    long GetSpeedLimitKiB() const;
    void SetSpeedLimitKiB(long kib);
    // Whether downloads interrupted by the end of the last run are tried again at start.
    bool GetResumeAtStart() const;
    void SetResumeAtStart(bool resume);

    // Base address of the metadata service and the version endpoint, without a trailing
    // slash, as the settings name it (even an empty one), else the bundled service's usual
    // address. Read only: the program never writes it. Requests ask ServiceAddress, which
    // also knows the program's own service.
    wxString GetServiceUrl() const;

    // True when the settings name a service of their own (even an empty address): Norvik
    // then starts none and keeps no tools for one.
    bool NamesService() const;

    wxString GetExecutablePath() const;

    // Whether Norvik keeps its own yt-dlp and JavaScript runtime current; "ResolverUpdates=0"
    // leaves the distribution's yt-dlp in charge.
    bool GetResolverUpdates() const;
    // The release folders the tools come from.
    wxString GetResolverReleaseUrl() const;
    wxString GetJsRuntimeReleaseUrl() const;
    // When the tools were last checked (seconds since the epoch, 0 for never) and what came
    // of it, as ToolUpdates records it.
    long GetToolCheckTime() const;
    wxString GetToolCheckResult() const;
    void SetToolCheck(long time, const wxString& result);

    // The browser whose sign-in yt-dlp uses, by yt-dlp's name for it; empty for none, and
    // for a name it does not know.
    wxString GetBrowserSignIn() const;
    void SetBrowserSignIn(const wxString& browser);
    // yt-dlp's names of the browsers offered, in the order the Options dialog shows them.
    static const wxArrayString& SignInBrowsers();

    // Brings the log-on autostart entry in line with this store's Autorun flag; false when
    // the entry could not be written or removed (see AutostartEntry::Write).
    bool UpdateAutorunEntry(AutostartEntry::Switch desktopSwitch = AutostartEntry::Switch::Keep);

private:
    wxFileConfig* config = nullptr;
};
