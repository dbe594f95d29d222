#include "osal/CoTime.h"

#include <time.h>

namespace Vantrel {

uint64_t CoTime::getTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t milliseconds = static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return (static_cast<uint64_t>(now.tv_sec) * 1000u + milliseconds) * 1000u;
}

std::tm CoTime::localTime(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

uint64_t CoTime::monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace Vantrel
