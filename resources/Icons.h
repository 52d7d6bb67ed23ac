#pragma once

#include <wx/bitmap.h>
#include <wx/iconbndl.h>

// The program's own "nk" icon, compiled in.
class Icons
{
public:
    // The picture at 16, 32 and 48 pixels, for the window and the notification area.
    static wxIconBundle GetNkBundle();
    // The picture at one of its sizes (16, 32, 48 or 128); the nearest larger otherwise.
    static wxIcon GetNk(int size);
};
