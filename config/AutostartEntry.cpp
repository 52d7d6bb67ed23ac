#include "config/AutostartEntry.h"

#include <wx/ffile.h>
#include <wx/filename.h>
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
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
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
    const wxString content = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Norvik\n"
                             "Exec=" +
                             MakeExecValue(executablePath, kStartupArgument) +
                             "\n"
                             "X-GNOME-Autostart-enabled=true\n";
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
