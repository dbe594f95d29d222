#include "osal/CoTime.h"

#include <windows.h>

namespace Vantrel {

namespace {

// 100-nanosecond intervals between 1601-01-01 (the system clock's origin) and 1970-01-01.
constexpr uint64_t EPOCH_OFFSET_100NS = 116444736000000000ull;

}  // namespace

uint64_t CoTime::getTime() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const uint64_t milliseconds = (ticks - EPOCH_OFFSET_100NS) / 10000u;
    return milliseconds * 1000u;
}

std::tm CoTime::localTime(std::time_t seconds) {
    std::tm local{};
    localtime_s(&local, &seconds);
    return local;
}

uint64_t CoTime::monotonicMs() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000u + ticks % frequency * 1000u / frequency;
}

}  // namespace Vantrel
