#pragma once

#include <wx/string.h>

enum class FetchOutcome
{
    Read,      // text holds the whole document
    NotOpened, // the virtual file system could not open the address
    NoStream,  // it opened the address but gave no data stream
};

// Reads a whole text document, decoded as UTF-8, through the toolkit's virtual file system.
FetchOutcome FetchUrlText(const wxString& address, wxString& text);
