// The Linux side of the steady clock and the local time that the session
// trace stamps its lines with.
#include <ctime>

#include "platform.h"

uint64_t OsQueryPerformanceCounter()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t OsQueryPerformanceFrequency() { return 1000000000u; }

void OsGetLocalTime(OsLocalTime* time)
{
    const std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    *time = {static_cast<uint16_t>(local.tm_year + 1900), static_cast<uint16_t>(local.tm_mon + 1),
             static_cast<uint16_t>(local.tm_mday),        static_cast<uint16_t>(local.tm_hour),
             static_cast<uint16_t>(local.tm_min),         static_cast<uint16_t>(local.tm_sec)};
}
