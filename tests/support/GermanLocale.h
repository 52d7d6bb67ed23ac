#pragma once

// Switches the process to German for as long as the object lives: the C library's
// conventions from the tests' own locale (LOCPATH, built with the tests) and the program's
// catalogue from the build folder. The previous locale comes back at the end.

#include <wx/intl.h>
#include <wx/log.h>

#include <cstdlib>

class GermanLocale
{
public:
    GermanLocale()
    {
        setenv("LOCPATH", NORVIK_TEST_LOCALES, 1);
        wxLogNull quiet;
        localeSet = locale.Init(wxLANGUAGE_GERMAN, 0);
        wxLocale::AddCatalogLookupPathPrefix(NORVIK_BUILD_DIR "/locale");
        catalogueLoaded = locale.AddCatalog("norvik");
    }
    ~GermanLocale() { unsetenv("LOCPATH"); }
    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;

    // Both must hold, or a test would pass on English texts or C number formats.
    bool Ready() const { return localeSet && catalogueLoaded; }

private:
    wxLocale locale;
    bool localeSet = false;
    bool catalogueLoaded = false;
};
