// What the public headers need from the compiler: the export mark of the library's classes and
// functions, and the printf-format check of the message functions.
//
// VANTREL_API marks every class and function of the public API. On Windows it exports them
// while the library itself is compiled (VANTREL_BUILDING_LIBRARY defined) and imports them in
// the programs that use the library; elsewhere it keeps them visible.
// VANTREL_PRINTF(formatIndex, firstIndex) lets compilers that know printf formats check the arguments of
// a printf-style function (parameter positions count `this` as 1); others ignore it.
#pragma once

#if defined(_WIN32)
#if defined(VANTREL_BUILDING_LIBRARY)
#define VANTREL_API __declspec(dllexport)
#else
#define VANTREL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VANTREL_API __attribute__((visibility("default")))
#else
#define VANTREL_API
#endif

#if defined(__MINGW32__)
// MinGW's own printf family follows the C standard (long long, size_t, ...), not the older
// system run-time's formats.
#define VANTREL_PRINTF(formatIndex, firstIndex) \
    __attribute__((format(gnu_printf, formatIndex, firstIndex)))
#elif defined(__GNUC__)
#define VANTREL_PRINTF(formatIndex, firstIndex) \
    __attribute__((format(printf, formatIndex, firstIndex)))
#else
#define VANTREL_PRINTF(formatIndex, firstIndex)
#endif
