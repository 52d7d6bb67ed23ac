#pragma once

#include <wx/string.h>

// The freedesktop autostart entry that starts Norvik hidden at log-on:
// $XDG_CONFIG_HOME/autostart/Norvik.desktop, ~/.config/autostart by default.
class AutostartEntry
{
public:
    static wxString GetFilePath();

    // What a write does with the desktop's own switches in an existing entry
    // (X-GNOME-Autostart-enabled=false, Hidden=true): the rewrite at start keeps them, the
    // user's explicit choice in Options turns the entry on.
    enum class Switch
    {
        Keep,
        TurnOn,
    };

    // Writes an entry whose Exec launches the executable with the single argument "startup"
    // and whose TryExec names it. False, and nothing written, when the write fails or the
    // executable is not IsSafeToStart.
    static bool Write(const wxString& executablePath, Switch desktopSwitch = Switch::Keep);

    // Whether only the user (or root) can change the executable and every folder above it,
    // so the entry starts at log-on the program it names and no other.
    static bool IsSafeToStart(const wxString& executablePath);
    // Removes the entry; an entry that is not there is no error.
    static bool Remove();

    // The Exec value for one program and its one argument, quoted and escaped by the
    // Desktop Entry rules so that any path launches.
    static wxString MakeExecValue(const wxString& executablePath, const wxString& argument);
};
