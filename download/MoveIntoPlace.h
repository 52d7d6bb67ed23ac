#pragma once

#include "download/OutputNames.h"

#include <wx/string.h>

#include <atomic>
#include <cstdint>
#include <string>

// Moves the file from to the first of names that is free, never replacing a file. One rename
// when both are on the same file system; otherwise a copy through AtomicOutputFile, then the
// source removed. No name ever shows a part of the file, and the file keeps its owner-only
// mode until it is in place. On success the name used is in placed (when given). On failure,
// false with the system's text in error, and from left in its place as it was. A copy ends
// early, as a failure with nothing written, when stop (if given) becomes true.
bool MoveIntoPlace(const wxString& from, const OutputNames& names, wxString& error,
                   const std::atomic<bool>* stop = nullptr, wxString* placed = nullptr);

// Bytes a copy puts in at an offset of its source, moving the rest back.
struct CopyInsertion
{
    std::uint64_t at = 0;
    std::string bytes;
};

// The copy half of MoveIntoPlace: from is copied into a new file under the first free name,
// which appears only when the copy is whole; from stays. Same failures and stop as above.
// With an insertion, the copy holds its bytes at its offset.
bool CopyIntoPlace(const wxString& from, const OutputNames& names, wxString& error,
                   const std::atomic<bool>* stop = nullptr, wxString* placed = nullptr,
                   const CopyInsertion* insertion = nullptr);
