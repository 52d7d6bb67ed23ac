#include "download/OutputPath.h"

#include <wx/filename.h>

namespace
{
const wxString kDoubleBlank = "  ";
const wxString kSingleBlank = " ";
// Each pass halves a blank run, so three passes bring runs of up to eight blanks down to one
// and leave a longer run short but still visible.
constexpr int kBlankCollapsePasses = 3;

const wxUniChar kReplacement = '_';
// Not forbidden by every platform's list, yet either would let a title leave the folder or
// cut the name short at the system call.
const wxUniChar kPortableSeparator = '/';
const wxUniChar kNul = wxUniChar(0);

const wxUniChar kDot = '.';

size_t FileNameBytes(const wxString& text)
{
    if (text.empty())
        return 0;
    const auto native = text.fn_str();
    if (native.length() > 0)
        return native.length();
    // A locale that cannot spell the name still gets a bounded name; UTF-8 is what most file
    // systems store anyway.
    return text.utf8_str().length();
}

// Cuts between characters, never inside one, so a multi-byte character is kept whole or
// dropped whole.
wxString CutToBytes(const wxString& text, size_t budget)
{
    if (FileNameBytes(text) <= budget)
        return text;
    // Prefix byte counts grow with the prefix, so a bisection finds the longest one that fits
    // without converting every prefix of a long title.
    size_t fits = 0;
    size_t tooLong = text.length();
    while (tooLong - fits > 1)
    {
        const size_t middle = fits + (tooLong - fits) / 2;
        if (FileNameBytes(text.Left(middle)) <= budget)
            fits = middle;
        else
            tooLong = middle;
    }
    return text.Left(fits);
}

wxString CleanTitle(const wxString& title)
{
    wxString collapsed(title);
    for (int pass = 0; pass < kBlankCollapsePasses; ++pass)
        collapsed.Replace(kDoubleBlank, kSingleBlank);

    const wxString forbidden = wxFileName::GetForbiddenChars() + wxFileName::GetPathSeparators();
    wxString cleaned;
    cleaned.reserve(collapsed.length());
    for (const wxUniChar ch : collapsed)
    {
        const bool unsafe =
            ch == kNul || ch == kPortableSeparator || forbidden.Find(ch) != wxNOT_FOUND;
        cleaned += unsafe ? kReplacement : ch;
    }

    // A name that begins with a dot is hidden from the user, who would not find the download;
    // without an extension "." and ".." would even name the folder itself or its parent.
    // An empty title would leave the extension's dot in front.
    size_t leadingDots = 0;
    while (leadingDots < cleaned.length() && cleaned[leadingDots] == kDot)
        ++leadingDots;
    cleaned.replace(0, leadingDots, wxString(kReplacement, leadingDots));
    if (cleaned.empty())
        cleaned = kReplacement;
    return cleaned;
}
} // namespace

wxString MakeOutputPath(const wxString& folder, const wxString& title, const wxString& extension)
{
    const wxString cleaned = CleanTitle(title);
    const wxUniChar separator = wxFileName::GetPathSeparators()[0];
    const size_t extensionBytes = FileNameBytes(extension);

    wxFileName candidate;
    for (unsigned long number = 0;; ++number)
    {
        const wxString suffix = number == 0 ? wxString() : wxString::Format("-%lu", number);
        // The suffix grows with the number, so the room left for the title is worked out anew
        // for every candidate.
        const size_t reserved = FileNameBytes(suffix) + extensionBytes;
        const size_t budget = reserved < kMaxFileNameBytes ? kMaxFileNameBytes - reserved : 0;
        const wxString fitted = CutToBytes(cleaned, budget);
        candidate.Assign(
            wxString::Format("%s%c%s%s%s", folder, separator, fitted, suffix, extension));
        // Only files are looked for: a directory of the same name is not seen, and its name
        // is handed out as free.
        if (!candidate.FileExists())
            return candidate.GetFullPath();
    }
}
