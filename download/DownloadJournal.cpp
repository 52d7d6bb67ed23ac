#include "download/DownloadJournal.h"

#include "download/NarrowPath.h"

#include <wx/datetime.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/utils.h>

#include <sqlite3.h>

#include <cstdlib>

namespace
{
const wxString kJournalName = "journal.sqlite";
// The files SQLite keeps beside a journal in write-ahead mode; they belong to it.
const char* const kCompanions[] = {"-wal", "-shm"};
// A writer that finds the file locked by another (a second instance's start) waits this long.
constexpr int kBusyWaitMs = 2000;

const char* const kSetFormatVersion = "PRAGMA user_version=1";
const char* const kSchema = "CREATE TABLE IF NOT EXISTS downloads ("
                            "id INTEGER PRIMARY KEY AUTOINCREMENT,"
                            "state INTEGER NOT NULL,"
                            "title TEXT NOT NULL, type TEXT NOT NULL, url TEXT NOT NULL,"
                            "itag TEXT NOT NULL, extension TEXT NOT NULL,"
                            "output TEXT NOT NULL, temp TEXT NOT NULL, file_id TEXT NOT NULL,"
                            "status TEXT NOT NULL, validator TEXT NOT NULL,"
                            "received INTEGER NOT NULL, started INTEGER NOT NULL)";

std::string Utf8(const wxString& text)
{
    const wxScopedCharBuffer bytes = text.utf8_str();
    return std::string(bytes.data(), bytes.length());
}

wxString Column(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? wxString::FromUTF8(text) : wxString();
}

// One prepared statement, finalised on every way out.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool IsOk() const { return statement != nullptr; }
    void Bind(int at, const wxString& text)
    {
        const std::string bytes = Utf8(text);
        sqlite3_bind_text(statement, at, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    void Bind(int at, std::int64_t value) { sqlite3_bind_int64(statement, at, value); }
    int Step() { return sqlite3_step(statement); }
    sqlite3_stmt* Get() { return statement; }

private:
    sqlite3_stmt* statement = nullptr;
};

// Binds the fields that change as the download goes on, from the first place given.
void BindChangeable(Statement& statement, const JournalEntry& entry, int first)
{
    statement.Bind(first, std::int64_t(entry.state));
    statement.Bind(first + 1, entry.outputPath);
    statement.Bind(first + 2, entry.tempPath);
    statement.Bind(first + 3, entry.statusText);
    statement.Bind(first + 4, entry.validator);
    statement.Bind(first + 5, entry.received);
    statement.Bind(first + 6, entry.fileId);
}

// Renames the journal and its companions to a name of their own; false when it stays.
bool SetAside(const wxString& path, wxString& aside)
{
    aside = path + ".unreadable-" + wxDateTime::Now().Format("%Y%m%d-%H%M%S");
    if (!wxRenameFile(path, aside, false))
        return false;
    for (const char* companion : kCompanions)
        if (wxFileExists(path + companion))
            wxRenameFile(path + companion, aside + companion, false);
    return true;
}
} // namespace

DownloadJournal::~DownloadJournal()
{
    Close();
}

void DownloadJournal::Close()
{
    std::lock_guard<std::mutex> guard(mutex);
    CloseLocked();
}

void DownloadJournal::CloseLocked()
{
    if (db)
        sqlite3_close(db);
    db = nullptr;
}

bool DownloadJournal::IsOpen() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return db != nullptr;
}

wxString DownloadJournal::LastError()
{
    std::lock_guard<std::mutex> guard(mutex);
    return lastError;
}

wxString DownloadJournal::TakeUnreportedFailure()
{
    std::lock_guard<std::mutex> guard(mutex);
    if (!unreported)
        return wxString();
    unreported = false;
    return lastError;
}

bool DownloadJournal::Failed()
{
    lastError = wxString::FromUTF8(sqlite3_errmsg(db));
    unreported = true;
    return false;
}

wxString DownloadJournal::DefaultPath()
{
    wxString base;
    if (!wxGetEnv("XDG_DATA_HOME", &base) || !wxIsAbsolutePath(base))
        base = wxGetHomeDir() + "/.local/share";
    return base + "/norvik/" + kJournalName;
}

bool DownloadJournal::Exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    lastError = message ? wxString::FromUTF8(message) : wxString(sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

bool DownloadJournal::Prepare(wxString& problem)
{
    sqlite3_busy_timeout(db, kBusyWaitMs);
    // The statement ends before the others run: one still open holds a read transaction,
    // and the journal mode cannot change inside one.
    int found = 0;
    {
        Statement version(db, "PRAGMA user_version");
        if (!version.IsOk() || version.Step() != SQLITE_ROW)
        {
            problem = wxString::FromUTF8(sqlite3_errmsg(db));
            return false;
        }
        found = sqlite3_column_int(version.Get(), 0);
    }
    if (found > kFormatVersion)
    {
        problem = wxString::Format(_("it was written by a newer Norvik (format %d)"), found);
        return false;
    }
    // The format is written only into a new journal: a write at every start would wait for
    // the disk.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL") || !Exec(kSchema) ||
        (found < kFormatVersion && !Exec(kSetFormatVersion)) || !Exec("PRAGMA quick_check"))
    {
        problem = lastError;
        return false;
    }
    return true;
}

bool DownloadJournal::Open(const wxString& path, wxString& problem)
{
    std::lock_guard<std::mutex> guard(mutex);
    CloseLocked();
    problem.clear();
    // The toolkit's own reports of a folder or a rename that failed would be boxes in the
    // window; problem says it in the log instead.
    const wxLogNull quiet;
    wxFileName::Mkdir(wxFileName(path).GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    wxString why;
    for (int attempt = 0; attempt < 2; ++attempt)
    {
        const int opened = sqlite3_open_v2(Utf8(path).c_str(), &db,
                                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (opened == SQLITE_OK && Prepare(why))
            return true;
        if (why.empty())
            why = db ? wxString::FromUTF8(sqlite3_errmsg(db)) : wxString(sqlite3_errstr(opened));
        CloseLocked();
        if (attempt > 0)
            break;
        wxString aside;
        if (!wxFileExists(path) || !SetAside(path, aside))
            break;
        problem = wxString::Format(_("The journal of downloads %s could not be read (%s); it "
                                     "was set aside as %s and an empty one started."),
                                   path, why, aside);
        why.clear();
    }
    problem = wxString::Format(_("The journal of downloads %s could not be opened (%s); "
                                 "downloads are not remembered in this run."),
                               path, why);
    return false;
}

std::int64_t DownloadJournal::Add(const JournalEntry& entry)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (!db)
        return 0;
    Statement insert(db, "INSERT INTO downloads (state, output, temp, status, validator, "
                         "received, file_id, title, type, url, itag, extension, started) "
                         "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!insert.IsOk())
    {
        Failed();
        return 0;
    }
    BindChangeable(insert, entry, 1);
    insert.Bind(8, entry.title);
    insert.Bind(9, entry.type);
    insert.Bind(10, entry.url);
    insert.Bind(11, entry.itag);
    insert.Bind(12, entry.extension);
    insert.Bind(13, entry.startedAt);
    if (insert.Step() != SQLITE_DONE)
    {
        Failed();
        return 0;
    }
    return sqlite3_last_insert_rowid(db);
}

bool DownloadJournal::Update(const JournalEntry& entry)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (!db)
        return false;
    Statement update(db, "UPDATE downloads SET state = ?, output = ?, temp = ?, status = ?, "
                         "validator = ?, received = ?, file_id = ? WHERE id = ?");
    if (!update.IsOk())
        return Failed();
    BindChangeable(update, entry, 1);
    update.Bind(8, entry.id);
    return update.Step() == SQLITE_DONE || Failed();
}

bool DownloadJournal::Remove(std::int64_t id)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (!db)
        return false;
    Statement remove(db, "DELETE FROM downloads WHERE id = ?");
    if (!remove.IsOk())
        return Failed();
    remove.Bind(1, id);
    return remove.Step() == SQLITE_DONE || Failed();
}

std::vector<JournalEntry> DownloadJournal::Load()
{
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<JournalEntry> entries;
    if (!db)
        return entries;
    Statement select(db, "SELECT id, state, output, temp, status, validator, received, file_id, "
                         "title, type, url, itag, extension, started FROM downloads ORDER BY id");
    if (!select.IsOk())
    {
        Failed();
        return entries;
    }
    while (select.Step() == SQLITE_ROW)
    {
        sqlite3_stmt* row = select.Get();
        JournalEntry entry;
        entry.id = sqlite3_column_int64(row, 0);
        const int state = sqlite3_column_int(row, 1);
        // A state this build does not know is shown as not finished rather than dropped.
        entry.state = state >= int(JournalState::Running) && state <= int(JournalState::Cancelled)
                          ? JournalState(state)
                          : JournalState::Running;
        entry.outputPath = Column(row, 2);
        entry.tempPath = Column(row, 3);
        entry.statusText = Column(row, 4);
        entry.validator = Column(row, 5);
        entry.received = sqlite3_column_int64(row, 6);
        entry.fileId = Column(row, 7);
        entry.title = Column(row, 8);
        entry.type = Column(row, 9);
        entry.url = Column(row, 10);
        entry.itag = Column(row, 11);
        entry.extension = Column(row, 12);
        entry.startedAt = sqlite3_column_int64(row, 13);
        entries.push_back(entry);
    }
    return entries;
}

std::set<std::string> DownloadJournal::NamedFiles(const wxString& path)
{
    std::set<std::string> named;
    if (!wxFileExists(path))
        return named;
    sqlite3* reader = nullptr;
    if (sqlite3_open_v2(Utf8(path).c_str(), &reader, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
    {
        sqlite3_busy_timeout(reader, kBusyWaitMs);
        Statement select(reader, "SELECT temp FROM downloads WHERE temp != ''");
        while (select.IsOk() && select.Step() == SQLITE_ROW)
        {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.Get(), 0));
            // As the clean-up reads the names of its lists: in the system's encoding.
            if (text)
                named.insert(NarrowPath(wxString::FromUTF8(text)));
        }
    }
    sqlite3_close(reader);
    return named;
}

JournalEntry JournalEntry::ForRecord(const StreamRecord& rec)
{
    JournalEntry entry;
    entry.title = rec.title;
    entry.type = rec.type;
    entry.url = rec.url;
    entry.itag = rec.itag;
    entry.extension = rec.extension;
    entry.outputPath = rec.outputPath;
    entry.tempPath = rec.tempPath;
    entry.startedAt = wxDateTime::Now().GetTicks();
    return entry;
}

StreamRecord JournalEntry::Record() const
{
    StreamRecord rec;
    rec.title = title;
    rec.type = type;
    rec.itag = itag;
    rec.extension = extension;
    rec.outputPath = outputPath;
    rec.url = url;
    return rec;
}
