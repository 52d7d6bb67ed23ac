#pragma once

#include <wx/dir.h>
#include <wx/ffile.h>
#include <wx/filename.h>
#include <wx/string.h>
#include <wx/utils.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir
{
public:
    TempDir()
    {
        char pattern[] = "/tmp/norvik-test-XXXXXX";
        if (const char* made = mkdtemp(pattern))
            path = made;
    }
    ~TempDir()
    {
        if (!path.empty())
            wxFileName::Rmdir(path, wxPATH_RMDIR_RECURSIVE);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const wxString& Path() const { return path; }
    wxString File(const wxString& name) const { return path + "/" + name; }

private:
    wxString path;
};

// Files in a folder, hidden ones too but none from the folders below it.
inline int CountFiles(const wxString& folder)
{
    wxArrayString names;
    return int(wxDir::GetAllFiles(folder, &names, wxEmptyString, wxDIR_FILES | wxDIR_HIDDEN));
}

// The whole content of a file, or the empty text when it cannot be read.
inline wxString ReadFileText(const wxString& path)
{
    wxString text;
    wxFFile file(path, "rb");
    if (file.IsOpened())
        file.ReadAll(&text, wxConvUTF8);
    return text;
}

inline bool WriteFileText(const wxString& path, const wxString& text)
{
    wxFFile file(path, "wb");
    return file.IsOpened() && file.Write(text, wxConvUTF8) && file.Close();
}

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv
{
public:
    ScopedEnv(const wxString& name, const wxString* value) : name(name)
    {
        hadValue = wxGetEnv(name, &oldValue);
        if (value)
            wxSetEnv(name, *value);
        else
            wxUnsetEnv(name);
    }
    ~ScopedEnv()
    {
        if (hadValue)
            wxSetEnv(name, oldValue);
        else
            wxUnsetEnv(name);
    }

private:
    wxString name;
    wxString oldValue;
    bool hadValue = false;
};

// What ReadBytes gives for a file that is not there, so a test can tell it from empty.
inline const char* const kMissing = "<missing>";

inline std::string ReadBytes(const wxString& path)
{
    std::ifstream in(path.fn_str(), std::ios::binary);
    if (!in)
        return kMissing;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteBytes(const wxString& path, const std::string& bytes)
{
    std::ofstream out(path.fn_str(), std::ios::binary);
    out << bytes;
    return bool(out.flush());
}
