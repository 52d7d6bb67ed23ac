#pragma once

// Switches the process to German for as long as the object lives: the C library's
// conventions from the tests' own locale (LOCPATH, built with the tests) and the program's
// catalogue from the build folder. The previous locale and LOCPATH come back at the end.

#include "support/TempDir.h"

#include <wx/intl.h>
#include <wx/log.h>

class GermanLocale
{
public:
    GermanLocale()
    {
        wxLogNull quiet;
        localeSet = locale.Init(wxLANGUAGE_GERMAN, 0);
        wxLocale::AddCatalogLookupPathPrefix(NORVIK_BUILD_DIR "/locale");
        catalogueLoaded = locale.AddCatalog("norvik");
    }
    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;

    // Both must hold, or a test would pass on English texts or C number formats.
    bool Ready() const { return localeSet && catalogueLoaded; }

private:
    const wxString testLocales = NORVIK_TEST_LOCALES;
    // Before the locale, so the earlier LOCPATH comes back only once the earlier locale has.
    ScopedEnv localePath{"LOCPATH", &testLocales};
    wxLocale locale;
    bool localeSet = false;
    bool catalogueLoaded = false;
};
