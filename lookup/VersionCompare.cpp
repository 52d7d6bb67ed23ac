#include "lookup/VersionCompare.h"

#include <wx/arrstr.h>

#include <algorithm>

namespace
{
struct Part
{
    // Without leading zeros, so numbers of any length compare by length, then by text.
    wxString number;
    wxString rest;
};

// ASCII digits only: a version is read the same whatever the locale.
bool IsDigit(wxUniChar c)
{
    return c >= '0' && c <= '9';
}

Part SplitPart(const wxString& text)
{
    size_t digits = 0;
    while (digits < text.length() && IsDigit(text[digits]))
        ++digits;
    Part part;
    part.number = text.Left(digits);
    while (part.number.length() > 1 && part.number[0] == '0')
        part.number.erase(0, 1);
    if (part.number.empty())
        part.number = "0";
    part.rest = text.Mid(digits);
    return part;
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

int CompareParts(const Part& a, const Part& b)
{
    if (a.number.length() != b.number.length())
        return a.number.length() < b.number.length() ? -1 : 1;
    if (const int byDigits = a.number.compare(b.number))
        return Sign(byDigits);
    if (a.rest.empty() != b.rest.empty())
        return a.rest.empty() ? 1 : -1;
    return Sign(a.rest.compare(b.rest));
}

bool IsVersion(const wxString& text)
{
    return !text.empty() && IsDigit(text[0]);
}
} // namespace

bool CompareVersions(const wxString& a, const wxString& b, int& order)
{
    if (!IsVersion(a) || !IsVersion(b))
        return false;
    const wxArrayString partsA = wxSplit(a, '.', '\0');
    const wxArrayString partsB = wxSplit(b, '.', '\0');
    const size_t count = std::max(partsA.size(), partsB.size());
    for (size_t i = 0; i < count; ++i)
    {
        const Part partA = SplitPart(i < partsA.size() ? partsA[i] : wxString());
        const Part partB = SplitPart(i < partsB.size() ? partsB[i] : wxString());
        if (const int byPart = CompareParts(partA, partB))
        {
            order = byPart;
            return true;
        }
    }
    order = 0;
    return true;
}
