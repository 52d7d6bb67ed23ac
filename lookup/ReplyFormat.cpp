#include "lookup/ReplyFormat.h"

#include <wx/tokenzr.h>

namespace
{
const wxString kKeyEnd = ":";
const wxString kLineBreak = "\n";

struct TypeExtension
{
    const char* typePart;
    const char* extension;
};

// Checked in this order and the last row that applies wins, so a type naming several
// containers gets the one listed latest.
const TypeExtension kTypeExtensions[] = {
    {"/m4a", ".m4a"},  {"/mp4", ".mp4"},   {"/x-flv", ".flv"}, {"/flv", ".flv"}, {"/3gp", ".3gp"},
    {"/3gpp", ".3gp"}, {"/webm", ".webm"}, {"/mp3", ".mp3"},   {"/mp2t", ".ts"},
};
} // namespace

wxString GetReplyValue(const wxString& key, const wxString& reply)
{
    wxString wanted(key);
    wanted.Trim(true);
    if (!wanted.EndsWith(kKeyEnd))
        wanted += kKeyEnd;

    wxStringTokenizer lines(reply, kLineBreak);
    while (lines.HasMoreTokens())
    {
        wxString line = lines.GetNextToken();
        // The service may answer with CRLF line ends; the "\r" must not end up in a value.
        line.Trim(true);
        wxString value;
        if (line.StartsWith(wanted, &value))
        {
            value.Trim(false);
            value.Trim(true);
            return value;
        }
    }
    return wxString();
}

wxString ExtensionForType(const wxString& type)
{
    wxString extension;
    for (const TypeExtension& row : kTypeExtensions)
    {
        if (type.Contains(row.typePart))
            extension = row.extension;
    }
    return extension;
}
