#pragma once

#include <wx/string.h>

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

    // Base address of the metadata service and the version endpoint, without a trailing
    // slash. Read only: the program never writes it.
    wxString GetServiceUrl() const;

    wxString GetExecutablePath() const;

    // Brings the log-on autostart entry in line with this store's Autorun flag.
    void UpdateAutorunEntry();

private:
    wxFileConfig* config = nullptr;
};
