#include "download/HttpStatusText.h"

#include <wx/intl.h>

namespace
{
struct StatusPhrase
{
    long status;
    const char* phrase;
};

// The error statuses a stream server may answer with, and their standard reason phrases.
const StatusPhrase kStatusPhrases[] = {
    {400, wxTRANSLATE("Bad Request")},
    {401, wxTRANSLATE("Unauthorized")},
    {402, wxTRANSLATE("Payment Required")},
    {403, wxTRANSLATE("Forbidden")},
    {404, wxTRANSLATE("Not Found")},
    {405, wxTRANSLATE("Method Not Allowed")},
    {406, wxTRANSLATE("Not Acceptable")},
    {407, wxTRANSLATE("Proxy Authentication Required")},
    {408, wxTRANSLATE("Request Timeout")},
    {409, wxTRANSLATE("Conflict")},
    {410, wxTRANSLATE("Gone")},
    {411, wxTRANSLATE("Length Required")},
    {412, wxTRANSLATE("Precondition Failed")},
    {413, wxTRANSLATE("Content Too Large")},
    {414, wxTRANSLATE("URI Too Long")},
    {415, wxTRANSLATE("Unsupported Media Type")},
    {416, wxTRANSLATE("Range Not Satisfiable")},
    {417, wxTRANSLATE("Expectation Failed")},
    {421, wxTRANSLATE("Misdirected Request")},
    {422, wxTRANSLATE("Unprocessable Content")},
    {425, wxTRANSLATE("Too Early")},
    {426, wxTRANSLATE("Upgrade Required")},
    {428, wxTRANSLATE("Precondition Required")},
    {429, wxTRANSLATE("Too Many Requests")},
    {431, wxTRANSLATE("Request Header Fields Too Large")},
    {451, wxTRANSLATE("Unavailable For Legal Reasons")},
    {500, wxTRANSLATE("Internal Server Error")},
    {501, wxTRANSLATE("Not Implemented")},
    {502, wxTRANSLATE("Bad Gateway")},
    {503, wxTRANSLATE("Service Unavailable")},
    {504, wxTRANSLATE("Gateway Timeout")},
    {505, wxTRANSLATE("HTTP Version Not Supported")},
    {507, wxTRANSLATE("Insufficient Storage")},
    {508, wxTRANSLATE("Loop Detected")},
    {511, wxTRANSLATE("Network Authentication Required")},
};
} // namespace

wxString HttpStatusText(long status)
{
    for (const StatusPhrase& entry : kStatusPhrases)
    {
        if (entry.status == status)
            return wxString::Format("HTTP %ld %s", status, wxGetTranslation(entry.phrase));
    }
    return wxString::Format("HTTP %ld", status);
}
