#pragma once

#include <wx/string.h>

// The per-user single-instance lock: an flock on a file, held for as long as this object
// lives. The kernel lets go of it when the process ends, however it ends, so neither a stale
// file nor a process number reused by another program can keep Norvik from starting.
class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock on folder/name (the file is made, mode 0600, when missing). Held when
    // this object took it; HeldElsewhere when another process has it; Unavailable when the
    // file cannot be opened or locked.
    enum class Result
    {
        Held,
        HeldElsewhere,
        Unavailable,
    };
    Result Acquire(const wxString& folder, const wxString& name);

private:
    int fd = -1;
};
