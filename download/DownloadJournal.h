#pragma once

#include "lookup/StreamRecord.h"

#include <wx/string.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

// How a remembered download stands. Running is what a download still under way at the end of
// a run is left at: read back, it means the run ended without finishing it.
enum class JournalState : std::int32_t
{
    Running = 1,
    Done = 2,
    Failed = 3,
    Cancelled = 4,
};

// One download as the journal keeps it.
struct JournalEntry
{
    std::int64_t id = 0;
    JournalState state = JournalState::Running;
    wxString title;
    wxString type;
    wxString url;
    wxString itag;
    wxString extension;
    // The proposed path while the download runs; the name the file took once it is Done.
    wxString outputPath;
    // The partial file, in Norvik's own folder; kept until the download finishes or its line
    // goes.
    wxString tempPath;
    // The partial file's device and inode ("dev:ino"): a rename into place keeps them, so the
    // file is found under its final name when the run ended between the rename and the record.
    wxString fileId;
    wxString statusText;
    wxString validator;
    std::int64_t received = 0;
    std::int64_t startedAt = 0;

    // A new download of the record, as the journal records it when it starts now.
    static JournalEntry ForRecord(const StreamRecord& rec);
    // The record the download was made of; its partial file is the caller's to choose.
    StreamRecord Record() const;
};

// The downloads of earlier runs, kept in an SQLite file so that a restart, a crash or a power
// cut loses none already recorded: every change is one transaction of a write-ahead log.
// A journal that cannot be read is set aside under another name, never overwritten, so that
// nothing a newer Norvik or a damaged disk left behind is destroyed; an empty one starts.
// Thread-safe: the window's thread adds and removes records, each job's worker writes its own.
class DownloadJournal
{
public:
    // The format this build writes; a journal of a higher one is a newer Norvik's.
    static constexpr int kFormatVersion = 1;

    DownloadJournal() = default;
    ~DownloadJournal();
    DownloadJournal(const DownloadJournal&) = delete;
    DownloadJournal& operator=(const DownloadJournal&) = delete;

    // $XDG_DATA_HOME/norvik/journal.sqlite, or under ~/.local/share when it is unset or not
    // absolute.
    static wxString DefaultPath();

    // Opens the journal at path, creating it and its folder. A journal that cannot be read is
    // renamed aside and a fresh one made; problem then says what happened, for the log. False
    // when no journal could be opened at all (the problem says why): the run keeps no record.
    bool Open(const wxString& path, wxString& problem);
    bool IsOpen() const;
    void Close();

    // Records a new download and gives it its id; 0 when it could not be written.
    std::int64_t Add(const JournalEntry& entry);
    // Writes the entry's changeable fields under its id.
    bool Update(const JournalEntry& entry);
    bool Remove(std::int64_t id);
    // Every remembered download, oldest first.
    std::vector<JournalEntry> Load();
    // The text of the last failure, for the log.
    wxString LastError();
    // The text of a failed write since the last call, once; empty when there was none. The
    // workers' writes fail where no one sees them: the window's thread asks and logs it.
    wxString TakeUnreportedFailure();

    // The partial files the journal at path names, read without changing it; none when it
    // cannot be read. The start-up's clean-up of leftovers spares them.
    static std::set<std::string> NamedFiles(const wxString& path);

private:
    // Checks the format and makes the table; false when the file is not a journal of ours.
    bool Prepare(wxString& problem);
    bool Exec(const char* sql);
    void CloseLocked();
    // Keeps SQLite's text of the last failure; false, for the caller to return.
    bool Failed();

    // Guards db and lastError: one statement at a time, and its error read with it.
    mutable std::mutex mutex;
    sqlite3* db = nullptr;
    wxString lastError;
    bool unreported = false;
};
