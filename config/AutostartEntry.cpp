#include "config/AutostartEntry.h"

#include <wx/arrstr.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/utils.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
const wxString kEntryName = "Norvik.desktop";
const wxString kStartupArgument = "startup";
// Characters that make an Exec argument need double quotes.
const wxString kReservedInExec = " \t\n\"'\\<>~|&;$*?#()`";
// Characters that need a backslash inside a quoted Exec argument.
const wxString kEscapedInQuotes = "\"`$\\";

wxString QuoteArgument(const wxString& arg)
{
    bool needsQuotes = arg.empty();
    for (wxUniChar c : arg)
        if (kReservedInExec.Find(c) != wxNOT_FOUND)
            needsQuotes = true;
    if (!needsQuotes)
        return arg;
    wxString quoted = "\"";
    for (wxUniChar c : arg)
    {
        if (kEscapedInQuotes.Find(c) != wxNOT_FOUND)
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// The value-level escapes of the desktop file format, applied after quoting.
wxString EscapeValue(const wxString& value)
{
    wxString out;
    for (wxUniChar c : value)
    {
        switch (c.GetValue())
        {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The desktop's startup settings turn an entry off in the entry itself, by one of these keys.
const wxString kEntryGroup = "[Desktop Entry]";
const wxString kGnomeEnabledKey = "X-GNOME-Autostart-enabled";
const wxString kHiddenKey = "Hidden";
const wxString kTrue = "true";
const wxString kFalse = "false";

// Whether the entry at path was turned off by the user: the GNOME switch set to false, or
// the entry hidden. Only keys of the main group count; blanks around "=" are allowed.
struct UserDisable
{
    bool gnomeDisabled = false;
    bool hidden = false;
};

UserDisable ReadUserDisable(const wxString& path)
{
    UserDisable found;
    wxString text;
    wxFFile in;
    {
        // A missing or unreadable entry simply has no switch to keep.
        wxLogNull quiet;
        if (!wxFileExists(path) || !in.Open(path, "r") || !in.ReadAll(&text, wxConvUTF8))
            return found;
    }
    bool inMainGroup = false;
    for (wxString line : wxSplit(text, '\n', '\0'))
    {
        line.Trim(true).Trim(false);
        if (line.StartsWith("["))
        {
            inMainGroup = line == kEntryGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        wxString value;
        const wxString key = line.BeforeFirst('=', &value).Trim(true);
        value.Trim(false);
        if (key == kGnomeEnabledKey && value == kFalse)
            found.gnomeDisabled = true;
        if (key == kHiddenKey && value == kTrue)
            found.hidden = true;
    }
    return found;
}

constexpr uid_t kRootUid = 0;

// Whether only the user (or root) can change what is at path: its owner is one of them and
// neither others nor, unless the user owns it, the group may write it.
bool OnlyTheUserCanChange(const char* path)
{
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    const bool ownedByUser = info.st_uid == geteuid();
    if (!ownedByUser && info.st_uid != kRootUid)
        return false;
    if (info.st_mode & S_IWOTH)
        return false;
    return ownedByUser || !(info.st_mode & S_IWGRP);
}

// A sticky folder (such as /tmp) of the user's or root's: others may add entries to it but can
// neither rename nor remove ours, so a folder of the user's inside it stays the user's.
bool IsStickyFolderOfTheUserOrRoot(const char* path)
{
    struct stat info;
    if (stat(path, &info) != 0)
        return false;
    return (info.st_mode & S_ISVTX) && (info.st_uid == geteuid() || info.st_uid == kRootUid);
}
} // namespace

bool AutostartEntry::IsSafeToStart(const wxString& executablePath)
{
    // Whoever can write a folder on the way can put another program, or another folder, in
    // the executable's place: the program, its folder and every folder up to the root must be
    // the user's alone. The program's own folder may not be a sticky shared one either (others
    // could add files beside it); further up, a sticky folder keeps the user's entry theirs.
    std::unique_ptr<char, decltype(&std::free)> real(realpath(executablePath.fn_str(), nullptr),
                                                     &std::free);
    if (!real)
        return false;
    std::string path = real.get();
    // 0: the program, 1: its folder, 2 and more: the folders above.
    for (int level = 0;; ++level)
    {
        const bool stickyAbove = level >= 2 && IsStickyFolderOfTheUserOrRoot(path.c_str());
        if (!stickyAbove && !OnlyTheUserCanChange(path.c_str()))
            return false;
        if (path == "/")
            return true;
        const size_t slash = path.rfind('/');
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
    }
}

wxString AutostartEntry::GetFilePath()
{
    wxString base;
    // Relative values of XDG_CONFIG_HOME are invalid by the base-directory rules: ignore them.
    if (!wxGetEnv("XDG_CONFIG_HOME", &base) || !wxIsAbsolutePath(base))
        base = wxFileName(wxGetHomeDir(), ".config").GetFullPath();
    return wxFileName(base + "/autostart", kEntryName).GetFullPath();
}

wxString AutostartEntry::MakeExecValue(const wxString& executablePath, const wxString& argument)
{
    wxString exec = QuoteArgument(executablePath) + " " + QuoteArgument(argument);
    // Field codes are expanded after unquoting, so a literal percent is doubled everywhere.
    exec.Replace("%", "%%");
    return EscapeValue(exec);
}

bool AutostartEntry::Write(const wxString& executablePath, Switch desktopSwitch)
{
    if (!IsSafeToStart(executablePath))
        return false;
    const wxFileName file(GetFilePath());
    if (!wxFileName::Mkdir(file.GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL))
        return false;
    // The entry is rewritten at every start; a switch the user turned off in the desktop's
    // settings stays off, unless this write is the user's own newer choice.
    UserDisable disable;
    if (desktopSwitch == Switch::Keep)
        disable = ReadUserDisable(file.GetFullPath());
    // TryExec lets the desktop skip the entry once the program is gone (a removed package).
    wxString content = kEntryGroup +
                       "\n"
                       "Type=Application\n"
                       "Name=Norvik\n"
                       "TryExec=" +
                       EscapeValue(executablePath) +
                       "\n"
                       "Exec=" +
                       MakeExecValue(executablePath, kStartupArgument) + "\n" + kGnomeEnabledKey +
                       "=" + (disable.gnomeDisabled ? kFalse : kTrue) + "\n";
    if (disable.hidden)
        content += kHiddenKey + "=" + kTrue + "\n";
    // Write beside the entry and rename, so a session starting meanwhile never reads half.
    const wxString partPath = file.GetFullPath() + ".part";
    wxFFile out(partPath, "w");
    if (!out.IsOpened() || !out.Write(content, wxConvUTF8) || !out.Close())
    {
        wxRemoveFile(partPath);
        return false;
    }
    return wxRenameFile(partPath, file.GetFullPath(), true);
}

bool AutostartEntry::Remove()
{
    const wxString path = GetFilePath();
    return !wxFileExists(path) || wxRemoveFile(path);
}
