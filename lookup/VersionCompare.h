#pragma once

#include <wx/string.h>

// Orders two version texts such as "2.0", "10.0.1" or "2.1-beta" part by part, the parts
// separated by dots. Each part's leading digits count as a number, of any length ("10" is
// after "9"); a missing part counts as 0, so "2.0" equals "2.0.0". After equal numbers, a part
// with text behind its digits ("1-beta", "1rc2") comes before the bare number, as a
// pre-release before its release, and two such texts are ordered as text.
// False when either is no version (empty, or not beginning with a digit); otherwise order is
// negative, zero or positive as a is before, equal to or after b.
bool CompareVersions(const wxString& a, const wxString& b, int& order);
