#pragma once

#include <wx/string.h>

// What a failed transfer says of an HTTP error status: "HTTP 404 Not Found", the reason
// phrase in the user's language; only the number for a status without a standard phrase.
wxString HttpStatusText(long status);
