#include "lookup/GivenAddress.h"

#include <wx/tokenzr.h>

namespace
{
const wxString kLineEnds = "\r\n";
const wxUniChar kCommentMark = '#';
} // namespace

wxString GivenAddress(const wxString& text)
{
    wxStringTokenizer lines(text, kLineEnds, wxTOKEN_STRTOK);
    while (lines.HasMoreTokens())
    {
        wxString line = lines.GetNextToken();
        line.Trim(true).Trim(false);
        if (!line.empty() && line[0] != kCommentMark)
            return line;
    }
    return wxString();
}
