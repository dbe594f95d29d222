// Failure reports of the comparison assertions.
//
// ThrowAssertionFailed<T, N>::throwAssertionFailed joins the three condition parts into one
// text and fails an assertion naming the comparison source and its line (1805 for the
// floating-point checks, N = 0; 1851 for the integer checks, N = 1). It stops the process.
#pragma once

#include <cstdint>

namespace Vantrel {
namespace FloatUtil {

template <typename T, int N>
struct ThrowAssertionFailed {
    [[noreturn]] static void throwAssertionFailed(const char* file, int line, const char* part1,
                                                  const char* part2, const char* part3,
                                                  T value1, T value2, T value3);
};

extern template struct ThrowAssertionFailed<float, 0>;
extern template struct ThrowAssertionFailed<double, 0>;
extern template struct ThrowAssertionFailed<signed char, 1>;
extern template struct ThrowAssertionFailed<unsigned char, 1>;
extern template struct ThrowAssertionFailed<short, 1>;
extern template struct ThrowAssertionFailed<unsigned short, 1>;
extern template struct ThrowAssertionFailed<int, 1>;
extern template struct ThrowAssertionFailed<unsigned int, 1>;
extern template struct ThrowAssertionFailed<int64_t, 1>;
extern template struct ThrowAssertionFailed<uint64_t, 1>;

}  // namespace FloatUtil
}  // namespace Vantrel
