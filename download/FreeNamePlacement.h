#pragma once

#include <wx/string.h>

class OutputNames;

// Puts the file at from in place under the first of names that is free at that moment, in one
// step that never replaces a file (a name taken in between is passed over), then gives it the
// mode of a new file: until then it keeps the owner-only mode it was made with. 0 with placed
// set to the name used; otherwise the errno, and from is where it was. EXDEV when from is on
// another file system.
int PlaceUnderFreeName(const wxString& from, const OutputNames& names, wxString& placed);
