#include "download/RememberedDownloads.h"

#include "download/FileIdentity.h"
#include "download/OutputNames.h"
#include "download/TempFileRegistry.h"
#include "lookup/ServiceRequest.h"

#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/intl.h>

#include <algorithm>
#include <cctype>

namespace
{
const wxString kStreamPath = "/stream/";
constexpr size_t kVideoIdLength = 11;
const wxString kPageIdPrefix = "a-";
constexpr size_t kPageIdDigits = 16;

bool IsIdCharacter(wxUniChar c)
{
    return c.IsAscii() && (std::isalnum(int(c.GetValue())) || c == '_' || c == '-');
}

// A video id of the site's, or the service's id of another site's page.
bool IsStreamId(const wxString& id)
{
    if (id.length() == kVideoIdLength)
        return std::all_of(id.begin(), id.end(), IsIdCharacter);
    wxString digits;
    return id.StartsWith(kPageIdPrefix, &digits) && digits.length() == kPageIdDigits &&
           std::all_of(digits.begin(), digits.end(),
                       [](wxUniChar c) { return c.IsAscii() && std::isxdigit(int(c.GetValue())); });
}

// A format id as the service writes it into a path: its own characters and escapes.
bool IsFormatInPath(const wxString& format)
{
    return !format.empty() &&
           std::all_of(format.begin(), format.end(),
                       [](wxUniChar c) { return IsIdCharacter(c) || c == '+' || c == '%'; });
}
} // namespace

void RememberedDownloads::RemoveLeftovers(const wxString& runsFolder, const wxString& journalPath,
                                          std::time_t now)
{
    const std::set<std::string> named = DownloadJournal::NamedFiles(journalPath);
    TempFileRegistry::RemoveLeftovers(runsFolder, named);
    // A partial file no list names either: its run was killed between making it and writing
    // its name down. By name alone, as the folder's path may be written another way now.
    std::set<std::string> namedFiles;
    for (const std::string& path : named)
        namedFiles.insert(path.substr(path.rfind('/') + 1));
    TempFileRegistry::RemoveStaleFiles(TempFileRegistry::PartialFolder(), namedFiles,
                                       kPartialFileLifeSeconds, now);
}

void RememberedDownloads::Load(DownloadJournal& journal)
{
    entries = journal.Load();
    kinds.clear();
    for (JournalEntry& entry : entries)
    {
        if (entry.state == JournalState::Running && !entry.fileId.empty() &&
            (entry.tempPath.empty() || !wxFileExists(entry.tempPath)))
        {
            const wxString placed = FindPlacedFile(entry);
            if (!placed.empty())
            {
                entry.state = JournalState::Done;
                entry.outputPath = placed;
                entry.tempPath.clear();
                entry.statusText = _("Done");
                journal.Update(entry);
            }
        }
        kinds.push_back(DownloadsTable::KindOf(entry, !entry.outputPath.empty() &&
                                                          wxFileExists(entry.outputPath)));
    }
}

void RememberedDownloads::Erase(size_t index)
{
    if (index >= entries.size())
        return;
    entries.erase(entries.begin() + std::ptrdiff_t(index));
    kinds.erase(kinds.begin() + std::ptrdiff_t(index));
}

bool RememberedDownloads::AnyFinished() const
{
    return std::any_of(kinds.begin(), kinds.end(), DownloadsTable::IsFinished);
}

RememberedDownloads::Retry
RememberedDownloads::MakeRetry(const JournalEntry& entry,
                               const std::function<wxString()>& serviceUrl)
{
    Retry retry;
    retry.record = entry.Record();
    StreamRecord& rec = retry.record;
    if (entry.url.Contains(kStreamPath) && serviceUrl)
    {
        const wxString renewed = RenewedStreamAddress(entry.url, serviceUrl());
        if (!renewed.empty())
            rec.url = renewed;
    }
    // Only a file of ours: the journal is a file in the user's folder like any other.
    if (!entry.tempPath.empty() && TempFileRegistry::IsOurName(NarrowPath(entry.tempPath)) &&
        wxFileExists(entry.tempPath))
    {
        rec.tempPath = entry.tempPath;
        // What reached the file is what was received: a kill loses no written byte, and a
        // new body empties the file before its validator is recorded.
        retry.keptBytes = std::int64_t(wxFileName::GetSize(entry.tempPath).GetValue());
        retry.validator = std::string(entry.validator.utf8_str());
    }
    return retry;
}

wxString RememberedDownloads::RenewedStreamAddress(const wxString& address,
                                                   const wxString& serviceUrl)
{
    const size_t at = address.rfind(kStreamPath);
    if (at == wxString::npos)
        return wxString();
    const wxString rest = address.Mid(at + kStreamPath.length());
    const wxString id = rest.BeforeFirst('/');
    const wxString format = rest.AfterFirst('/');
    if (!IsStreamId(id) || !IsFormatInPath(format))
        return wxString();
    return ServiceRequestAddress(serviceUrl, kStreamPath + id + "/" + format);
}

wxString RememberedDownloads::FindPlacedFile(const JournalEntry& entry)
{
    if (entry.fileId.empty() || entry.outputPath.empty())
        return wxString();
    const OutputNames names = entry.extension.empty()
                                  ? OutputNames(entry.outputPath)
                                  : OutputNames(entry.outputPath, entry.title, entry.extension);
    for (unsigned long number = 0;; ++number)
    {
        const wxString candidate = names.Candidate(number);
        // The file took the first name free at that moment: none after a free one.
        if (candidate.empty() || !wxFileExists(candidate))
            return wxString();
        if (FileIdentity(candidate) == entry.fileId)
            return candidate;
    }
}
