#pragma once

#include <wx/string.h>

// The sentence the video panel shows for a lookup the service could not answer, chosen by
// the reason word of its reply (translated), with the remedy where there is one. The empty
// text for no reason: a service that does not say why leaves the panel as it was.
wxString LookupFailureText(const wxString& reason);
