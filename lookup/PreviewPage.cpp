#include "lookup/PreviewPage.h"

#include "lookup/PictureFsHandler.h"

namespace
{
// The address comes from the service: keep it from ending the attribute or opening markup of
// its own.
wxString EscapeForHtml(const wxString& text)
{
    wxString escaped;
    for (wxUniChar c : text)
    {
        switch (c.GetValue())
        {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
} // namespace

wxString MakePreviewPage(const wxString& thumbnailUrl)
{
    wxString page = "<html><head><title></title></head><body>";
    if (!thumbnailUrl.empty())
        page += "<table width='100%' cellspacing='0' cellpadding='0'><tr><td align='center' "
                "valign='middle'><img src=\"" +
                // Through the handler that checks the picture's type before any decoder sees it.
                EscapeForHtml(PictureFsHandler::kPrefix + thumbnailUrl) +
                "\" alt='' width='100%'/></td></tr></table>";
    return page + "</body></html>";
}
