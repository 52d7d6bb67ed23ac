#pragma once

#include <wx/time.h>
#include <wx/utils.h>

#include <functional>

// Polls a condition that another thread makes true, without an event loop; true when it held
// before the time was up.
inline bool PollUntil(const std::function<bool()>& condition, long limitMs)
{
    constexpr unsigned long kPollStepMs = 10;
    const wxLongLong deadline = wxGetLocalTimeMillis() + limitMs;
    while (!condition())
    {
        if (wxGetLocalTimeMillis() > deadline)
            return false;
        wxMilliSleep(kPollStepMs);
    }
    return true;
}
