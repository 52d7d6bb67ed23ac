#pragma once

#include <wx/string.h>

// The address in a text pasted or dropped by the user: its first line that is neither empty
// nor a comment (a "text/uri-list" may list several links and "#" lines), without the blanks
// and line ends around it that a selection or a list brings along. Empty when there is none.
wxString GivenAddress(const wxString& text);
