#include "loggerBase/FloatUtil.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace Vantrel {
namespace FloatUtil {
namespace {

const char kComparisonSource[] = "common\\src\\base/baseTypes/src/floatUtil.inline";

// The condition text is reported by the check "condition.c_str() == 0", which fails exactly
// when a condition was built; the values and the caller's place are not reported.
[[noreturn]] void failComparison(const std::string& condition, int line) {
    std::fprintf(stderr, "%s\nAssertion failed: condition.c_str() == 0, file %s, line %d\n",
                 condition.c_str(), kComparisonSource, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

template <typename T, int N>
void ThrowAssertionFailed<T, N>::throwAssertionFailed(const char*, int, const char* part1,
                                                      const char* part2, const char* part3,
                                                      T, T, T) {
    std::string condition;
    for (const char* part : {part1, part2, part3})
        if (part != nullptr) condition += part;
    failComparison(condition, N == 0 ? 1805 : 1851);
}

template struct ThrowAssertionFailed<float, 0>;
template struct ThrowAssertionFailed<double, 0>;
template struct ThrowAssertionFailed<signed char, 1>;
template struct ThrowAssertionFailed<unsigned char, 1>;
template struct ThrowAssertionFailed<short, 1>;
template struct ThrowAssertionFailed<unsigned short, 1>;
template struct ThrowAssertionFailed<int, 1>;
template struct ThrowAssertionFailed<unsigned int, 1>;
template struct ThrowAssertionFailed<int64_t, 1>;
template struct ThrowAssertionFailed<uint64_t, 1>;

}  // namespace FloatUtil
}  // namespace Vantrel
