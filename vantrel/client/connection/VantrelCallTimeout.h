// The ceiling on the time of every remote call the library makes: connecting and logging in,
// each request and its reply, node, server-level and ping calls alike. Each call keeps its own
// limit (100,000,000 ms for most, the caller's for ping) when that is shorter. On the frame
// port (frames, streams, files) it bounds the connect and each wait for the next bytes of a
// transfer, so that a large transfer that keeps moving is not cut short.
//
// The ceiling is, in order of precedence: what the application set (VantrelClientSetCallTimeout),
// else the environment variable VANTREL_CALL_TIMEOUT_MS (a whole number of milliseconds, read
// when the library is loaded; it may be changed through the settings registry,
// CoEnvStringSetting::find), else DEFAULT_MS. A value of the variable that is not a number from
// 1 to 4294967295 is ignored with a warning.
//
// Threads: safe from any thread; a call already waiting keeps the limit it started with.
#pragma once

#include <cstdint>

namespace VantrelCallTimeout {

constexpr uint32_t DEFAULT_MS = 100000000;
constexpr const char* VARIABLE = "VANTREL_CALL_TIMEOUT_MS";

// The ceiling a value of the variable gives; `valid` tells whether the value was one (null and
// "" count as unset: DEFAULT_MS, and valid).
uint32_t parse(const char* value, bool& valid);
// The application's ceiling in milliseconds; 0 gives the choice back to the environment.
void set(uint32_t ms);
// The ceiling in force.
uint32_t ceiling();
// `requestedMs`, or the ceiling when that is shorter.
uint32_t bound(uint32_t requestedMs);

}  // namespace VantrelCallTimeout
