// Text helpers of the client's own sources (not part of the public API).
#pragma once

namespace Vantrel {

// True when `a` and `b` are equal ignoring the case of ASCII letters. Independent of the
// locale, so that words exchanged with servers match the same way everywhere. A null text
// equals nothing.
inline bool equalsIgnoringAsciiCase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}

}  // namespace Vantrel
