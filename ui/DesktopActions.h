#pragma once

#include <wx/string.h>

// Hands a finished download to the desktop: its default application, or its file manager.
class DesktopActions
{
public:
    // Opens the file with the desktop's default application for it. False, after telling the
    // user, when none could be started.
    static bool OpenFile(const wxString& path);
    // Asks the file manager on the session bus to show the file's folder with the file
    // selected; where no file manager offers that, opens the folder instead. The answer comes
    // later, from the event loop.
    static void ShowInFolder(const wxString& path);
};
