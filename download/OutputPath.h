#pragma once

#include <wx/string.h>

// The longest file name, in bytes of the file system's encoding, that the output naming makes.
constexpr size_t kMaxFileNameBytes = 255;

// The naming rule's candidate number n inside folder, named from title and extension
// (".mp4"): "title.ext" for 0, "title-n.ext" after. The title is cleaned so the name stays
// inside folder, shows what it is and fits the file system. Whether it is free is the
// caller's question.
wxString OutputPathCandidate(const wxString& folder, const wxString& title,
                             const wxString& extension, unsigned long number);

// The first candidate that names no existing file.
wxString MakeOutputPath(const wxString& folder, const wxString& title, const wxString& extension);
