#pragma once

#include <wx/string.h>

// The freedesktop autostart entry that starts Norvik hidden at log-on:
// $XDG_CONFIG_HOME/autostart/Norvik.desktop, ~/.config/autostart by default.
class AutostartEntry
{
public:
    static wxString GetFilePath();

    // Writes an entry whose Exec launches the executable with the single argument "startup".
    static bool Write(const wxString& executablePath);
    // Removes the entry; an entry that is not there is no error.
    static bool Remove();

    // The Exec value for one program and its one argument, quoted and escaped by the
    // Desktop Entry rules so that any path launches.
    static wxString MakeExecValue(const wxString& executablePath, const wxString& argument);
};
