#include "download/DownloadLine.h"

#include <wx/intl.h>
#include <wx/numformatter.h>

namespace
{
// Sizes are shown in decimal megabytes, as file managers here do.
constexpr double kBytesPerMegabyte = 1000.0 * 1000.0;
constexpr double kPercent = 100.0;
constexpr int kMegabyteDecimals = 1;

// In the conventions of the user's locale: decimal comma and thousands grouping included.
wxString Megabytes(double bytes)
{
    return wxNumberFormatter::ToString(bytes / kBytesPerMegabyte, kMegabyteDecimals,
                                       wxNumberFormatter::Style_WithThousandsSep);
}
} // namespace

wxString MakeDownloadLine(const StreamRecord& rec, DownloadState state,
                          const DownloadProgress& progress)
{
    wxString line =
        wxString::Format("[%s] %s '%s' > %s", rec.statusText, rec.type, rec.title, rec.outputPath);
    if (state != Busy || !progress.transferring)
        return line;
    const wxString speed = wxString::Format(_("%s MB/s"), Megabytes(progress.bytesPerSecond));
    wxString detail;
    if (progress.total > 0)
        detail = wxString::Format(
            _("%d%%, %s of %s MB, %s"),
            int(kPercent * double(progress.received) / double(progress.total)),
            Megabytes(double(progress.received)), Megabytes(double(progress.total)), speed);
    else
        detail = wxString::Format(_("%s MB, %s"), Megabytes(double(progress.received)), speed);
    return line + " (" + detail + ")";
}
