#include "download/OutputPath.h"

#include <wx/filename.h>

#include <algorithm>
#include <iterator>

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

// Controls would put tabs, line ends and terminal escapes into a file name, and the
// bidirectional marks and overrides let a name read otherwise than it is ("clip\u202egpj.exe"
// shows as "clipexe.jpg"). They are dropped, not replaced: they show nothing of their own.
constexpr wxUniChar::value_type kLastC0Control = 0x1F;
constexpr wxUniChar::value_type kFirstC1Control = 0x7F; // DEL, then the C1 controls
constexpr wxUniChar::value_type kLastC1Control = 0x9F;
constexpr wxUniChar::value_type kBidiMarks[] = {
    0x061C,                                 // Arabic letter mark
    0x200E, 0x200F,                         // left-to-right and right-to-left marks
    0x202A, 0x202B, 0x202C, 0x202D, 0x202E, // embeddings and overrides
    0x2066, 0x2067, 0x2068, 0x2069,         // isolates
};

bool IsHiddenControl(wxUniChar ch)
{
    const wxUniChar::value_type code = ch.GetValue();
    if (code <= kLastC0Control || (code >= kFirstC1Control && code <= kLastC1Control))
        return true;
    return std::find(std::begin(kBidiMarks), std::end(kBidiMarks), code) != std::end(kBidiMarks);
}

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
        if (!unsafe && IsHiddenControl(ch))
            continue;
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

wxString OutputPathCandidate(const wxString& folder, const wxString& title,
                             const wxString& extension, unsigned long number)
{
    const wxString cleaned = CleanTitle(title);
    const wxUniChar separator = wxFileName::GetPathSeparators()[0];
    const wxString suffix = number == 0 ? wxString() : wxString::Format("-%lu", number);
    // The suffix grows with the number, so the room left for the title is worked out anew
    // for every candidate.
    const size_t reserved = FileNameBytes(suffix) + FileNameBytes(extension);
    const size_t budget = reserved < kMaxFileNameBytes ? kMaxFileNameBytes - reserved : 0;
    const wxString fitted = CutToBytes(cleaned, budget);
    return wxFileName(wxString::Format("%s%c%s%s%s", folder, separator, fitted, suffix, extension))
        .GetFullPath();
}

wxString MakeOutputPath(const wxString& folder, const wxString& title, const wxString& extension)
{
    for (unsigned long number = 0;; ++number)
    {
        const wxString candidate = OutputPathCandidate(folder, title, extension, number);
        // Only files are looked for: a directory of the same name is not seen, and its name
        // is handed out as free.
        if (!wxFileName::FileExists(candidate))
            return candidate;
    }
}
