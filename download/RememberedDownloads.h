#pragma once

#include "download/DownloadJournal.h"
#include "download/DownloadsTable.h"
#include "lookup/StreamRecord.h"

#include <wx/string.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

// The downloads of earlier runs, as the journal gives them at start, each with how it is
// shown; and what a retry of one in this run starts from.
class RememberedDownloads
{
public:
    // What a retry as a job of this run starts from: the record, and the bytes of the partial
    // file with their validator.
    struct Retry
    {
        StreamRecord record;
        std::int64_t keptBytes = 0;
        std::string validator;
    };

    // A partial file untouched this long is removed at start, whether a journal names it or not.
    static constexpr std::time_t kPartialFileLifeSeconds = std::time_t{30} * 24 * 60 * 60;

    // The start-up's clean-up, before this run's list of temporary files starts: the files
    // earlier runs left (TempFileRegistry::RemoveLeftovers), but those the journal at
    // journalPath names; then, in the partial files' folder, the files the journal does not
    // name and those nobody came back for in a month.
    static void RemoveLeftovers(const wxString& runsFolder, const wxString& journalPath,
                                std::time_t now);

    // Reads the journal's downloads, oldest first. A download whose run ended between putting
    // its file in place and recording so is recorded as done now, under the name it took.
    void Load(DownloadJournal& journal);
    size_t Count() const { return entries.size(); }
    const JournalEntry& Entry(size_t index) const { return entries[index]; }
    RememberedKind Kind(size_t index) const { return kinds[index]; }
    void Erase(size_t index);
    // Whether "Clear finished" has anything to take.
    bool AnyFinished() const;

    // The retry of entry: its record, continuing in its partial file when that is still there.
    // A stream the service relays from the resolver is asked for again at serviceUrl (called
    // only then), as its address ended with the service's run that gave it.
    static Retry MakeRetry(const JournalEntry& entry, const std::function<wxString()>& serviceUrl);
    // The address of the service's relay of the same stream at serviceUrl; empty when address
    // is no such relay.
    static wxString RenewedStreamAddress(const wxString& address, const wxString& serviceUrl);
    // The name the entry's partial file took when it was put in place, by its device and
    // inode: the names it could take, in the order they were tried, up to the first free one.
    // Empty when none is that file.
    static wxString FindPlacedFile(const JournalEntry& entry);

private:
    std::vector<JournalEntry> entries;
    std::vector<RememberedKind> kinds;
};
