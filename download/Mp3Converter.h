#pragma once

#include <wx/string.h>

#include <atomic>

// Writes the sound data of the FLV file at sourcePath as the MP3 file outputPath.
// Complete or absent: the output appears whole, or not at all, and a file that was at
// outputPath before survives a failure. False when the source cannot be read, is not FLV,
// or the output cannot be written, and when stop (if given) becomes true before the end.
bool ConvertToMp3(const wxString& sourcePath, const wxString& outputPath,
                  const std::atomic<bool>* stop = nullptr);
