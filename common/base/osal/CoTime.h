// Wall-clock time of the base layer.
#pragma once

#include <cstdint>
#include <ctime>

namespace Vantrel {

class CoTime {
public:
    // Microseconds since 1970-01-01 UTC, made from the system clock's seconds and
    // milliseconds ((seconds * 1000 + milliseconds) * 1000): the resolution is one
    // millisecond. Thread-safe; never fails.
    static uint64_t getTime();

    // Milliseconds of a monotonic clock, for measuring waits. Thread-safe.
    static uint64_t monotonicMs();
    // The local calendar time of `seconds` since 1970-01-01 UTC. Thread-safe.
    static std::tm localTime(std::time_t seconds);
};

}  // namespace Vantrel
