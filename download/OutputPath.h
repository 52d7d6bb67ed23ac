#pragma once

#include <wx/string.h>

// The longest file name, in bytes of the file system's encoding, that the output naming makes.
constexpr size_t kMaxFileNameBytes = 255;

// A full path inside folder, named from title and extension (".mp4"), that names no existing
// file: "title.ext", then "title-1.ext", "title-2.ext" and so on. The title is cleaned so
// the name stays inside folder and fits the file system.
wxString MakeOutputPath(const wxString& folder, const wxString& title, const wxString& extension);
