#pragma once

#include <cstdint>

// Where a download job stands; the worker sets it, the downloads list shows it.
enum DownloadState : std::int32_t
{
    Idle = 0,
    Busy = 1,
    Done = 2,
    Failed = 3,
};
