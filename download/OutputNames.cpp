#include "download/OutputNames.h"

#include "download/OutputPath.h"

#include <wx/filename.h>

namespace
{
// A folder that holds this many files of one title is not a case to serve: the search ends
// there as a failure the user sees, instead of going on for ever.
constexpr unsigned long kMaxCandidates = 100000;
} // namespace

OutputNames::OutputNames(const wxString& proposedPath) : proposed(proposedPath)
{
    const wxFileName name(proposedPath);
    folder = name.GetPath();
    title = name.GetName();
    if (name.HasExt())
        extension = "." + name.GetExt();
}

OutputNames::OutputNames(const wxString& proposedPath, const wxString& title,
                         const wxString& extension)
    : proposed(proposedPath), folder(wxFileName(proposedPath).GetPath()), title(title),
      extension(extension)
{
}

wxString OutputNames::Candidate(unsigned long number) const
{
    if (number == 0)
        return proposed;
    if (number >= kMaxCandidates)
        return wxString();
    return OutputPathCandidate(folder, title, extension, number);
}
