#pragma once

#include <wx/string.h>

#include <ctime>
#include <set>
#include <string>

// The names of the temporary files and partial outputs this run made and has not removed yet,
// kept on disk in a list of the run's own (one per run, in a per-user folder) and locked for
// as long as the run lives. A later run takes over the lists whose runs are gone (killed,
// crashed, a power cut) and removes the files named there: only files that Norvik made, never
// another program's.
//
// Until Open is called nothing is recorded, and the functions below only do their file work.
// Thread-safe: workers and the window share it.
class TempFileRegistry
{
public:
    // The names of the files this program makes, which IsOurName goes by: a temporary file's
    // name begins with kTempNamePrefix; a partial output's is kPartNamePrefix, a unique part,
    // then kPartNameSuffix.
    static constexpr char kTempNamePrefix[] = "NK";
    static constexpr char kPartNamePrefix[] = ".NK-";
    static constexpr char kPartNameSuffix[] = ".part";

    // $XDG_STATE_HOME/norvik/runs, else ~/.local/state/norvik/runs; $XDG_CACHE_HOME/norvik/runs
    // (or ~/.cache/norvik/runs) when the state folder cannot be made.
    static wxString DefaultFolder();

    // Starts this run's list in folder (made if missing). False, with nothing recorded from
    // then on, when the folder or the list cannot be made.
    static bool Open(const wxString& folder);
    // Ends recording: the list is removed, its files are left as they are. For tests.
    static void Close();

    // Removes the files named by the lists of earlier runs that are no longer running, and
    // those lists; the files in spare (the partial files the journal of downloads names) stay.
    // Returns how many files were removed.
    static int RemoveLeftovers(const wxString& folder, const std::set<std::string>& spare = {});

    // $XDG_CACHE_HOME/norvik/partial, else ~/.cache/norvik/partial, made owner-only when
    // missing: the downloads' partial files live here, where a later run finds them. Empty
    // when it cannot be made.
    static wxString PartialFolder();
    // Removes the files of ours directly in folder whose names (the last part of a path) keep
    // holds none of, and those last written before now - maxAgeSeconds: a partial file nobody
    // came back for. Only while no run uses the folder, at start. Returns how many.
    static int RemoveStaleFiles(const wxString& folder, const std::set<std::string>& keep,
                                std::time_t maxAgeSeconds, std::time_t now);

    // A new empty file for the prefix, recorded; empty on failure. A prefix with a folder is
    // made there; a bare one in PartialFolder(), or the temporary folder when that has none.
    static wxString CreateTempFile(const wxString& prefix);
    // Records a file this run just made.
    static void Add(const std::string& path);
    // The file has left its temporary name (renamed into place): stop naming it.
    static void Forget(const std::string& path);
    static void Forget(const wxString& path);
    // Deletes the file and forgets it.
    static void Remove(const std::string& path);
    static void Remove(const wxString& path);
    // Deletes every file this run still names: the last step of a quit, or of a lost display.
    static int RemoveAll();

    // Whether path is absolute and its file name one of ours (see the name parts above); the
    // folder it is in is not looked at. A list names nothing else; a damaged or foreign entry
    // is never acted on.
    static bool IsOurName(const std::string& path);
};
