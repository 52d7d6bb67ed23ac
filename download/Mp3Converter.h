#pragma once

#include "download/OutputNames.h"

#include <wx/string.h>

#include <atomic>

// Writes the sound data of the FLV file at sourcePath as an MP3 file under the first of
// names that is free when it is whole (its name then in placed, when given). Complete or
// absent: the output appears whole, or not at all, and no file that was there is replaced.
// False when the source cannot be read, is not FLV, or the output cannot be written, and
// when stop (if given) becomes true before the end.
bool ConvertToMp3(const wxString& sourcePath, const OutputNames& names,
                  const std::atomic<bool>* stop = nullptr, wxString* placed = nullptr);
