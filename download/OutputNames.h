#pragma once

#include <wx/string.h>

// The names a finished file may take, in the order they are tried when it is put in place:
// the path proposed at lookup, then the naming rule's numbered names. Which one is free is
// known only at that moment: a name taken since the lookup (by another format of the same
// video, by the same line downloaded twice, by the user) is passed over, never replaced.
class OutputNames
{
public:
    // The numbered names are made from the proposed path's own name. Converts, so a single
    // path serves where no title is at hand.
    OutputNames(const wxString& proposedPath);
    // The numbered names are made by the naming rule from the title and the extension (".mp4")
    // in the proposed path's folder, the way the lookup made the proposed path.
    OutputNames(const wxString& proposedPath, const wxString& title, const wxString& extension);

    // 0 is the proposed path, n the rule's name numbered n; empty past the last one tried.
    wxString Candidate(unsigned long number) const;

private:
    wxString proposed;
    wxString folder;
    wxString title;
    wxString extension;
};
