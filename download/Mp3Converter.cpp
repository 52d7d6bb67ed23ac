#include "download/Mp3Converter.h"

#include "download/AtomicOutputFile.h"
#include "download/StreamAudioExctractor.h"

#include <wx/ffile.h>
#include <wx/file.h>
#include <wx/log.h>
#include <wx/wfstream.h>

namespace
{
// Small reads keep the extractor's buffer small; the source is read through the system's
// cache, so their number costs little.
constexpr size_t kReadChunkSize = 256;

// Runs the extractor from source into file. True when all of the source was read and
// accepted and every write succeeded so far; the data may still sit in stdio's buffer.
bool Extract(wxFile& source, FILE* file)
{
    // The wrapper borrows the FILE, which belongs to the AtomicOutputFile.
    wxFFile borrowed(file);
    bool ok = true;
    {
        wxFFileOutputStream output(borrowed);
        StreamAudioExctractor extractor;
        extractor.Open(&output);
        char chunk[kReadChunkSize];
        for (;;)
        {
            const ssize_t got = source.Read(chunk, sizeof(chunk));
            if (got == wxInvalidOffset)
            {
                ok = false;
                break;
            }
            if (got == 0)
                break;
            if (!extractor.Feed(chunk, size_t(got)) || extractor.WriteFailed())
            {
                ok = false;
                break;
            }
        }
        extractor.Finish();
        if (extractor.WriteFailed())
            ok = false;
    }
    borrowed.Detach();
    return ok;
}
} // namespace

bool ConvertToMp3(const wxString& sourcePath, const wxString& outputPath)
{
    // The caller reports failure in its own words; the toolkit's log would pop up messages
    // from the worker thread this runs on. wxLogNull acts on the current thread only.
    wxLogNull quiet;
    wxFile source;
    if (!source.Open(sourcePath, wxFile::read))
        return false;
    AtomicOutputFile output(outputPath);
    if (!output.IsOk())
        return false;
    if (!Extract(source, output.GetFile()))
        return false;
    return output.Commit();
}
