#include "config/AutostartEntry.h"

#include <wx/arrstr.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/log.h>
#include <wx/utils.h>

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
} // namespace

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

bool AutostartEntry::Write(const wxString& executablePath)
{
    const wxFileName file(GetFilePath());
    if (!wxFileName::Mkdir(file.GetPath(), wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL))
        return false;
    // The entry is rewritten at every start; a switch the user turned off stays off.
    const UserDisable disable = ReadUserDisable(file.GetFullPath());
    wxString content = kEntryGroup +
                       "\n"
                       "Type=Application\n"
                       "Name=Norvik\n"
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
