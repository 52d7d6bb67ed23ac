#include "download/DownloadLine.h"

namespace
{
// Sizes are shown in decimal megabytes, as file managers here do.
constexpr double kBytesPerMegabyte = 1000.0 * 1000.0;
constexpr double kPercent = 100.0;

wxString Megabytes(double bytes)
{
    return wxString::Format("%.1f", bytes / kBytesPerMegabyte);
}
} // namespace

wxString MakeDownloadLine(const StreamRecord& rec, DownloadState state,
                          const DownloadProgress& progress)
{
    wxString line = wxString::Format("[%s] %s '%s' > %s", rec.statusText, rec.type, rec.title,
                                     rec.outputPath);
    if (state != Busy || !progress.transferring)
        return line;
    const wxString speed = Megabytes(progress.bytesPerSecond) + " MB/s";
    if (progress.total > 0)
        line += wxString::Format(" (%d%%, %s of %s MB, %s)",
                                 int(kPercent * double(progress.received) / double(progress.total)),
                                 Megabytes(double(progress.received)),
                                 Megabytes(double(progress.total)), speed);
    else
        line += wxString::Format(" (%s MB, %s)", Megabytes(double(progress.received)), speed);
    return line;
}
