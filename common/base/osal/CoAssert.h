// The assertion of the base layer.
//
// CO_ASSERT(condition) checks a precondition or an internal invariant. It stays active in
// release builds: a failed check writes the condition text, the source path and the line to
// standard error and stops the process with abort(). It states a contract on callers; no input
// that can really arrive from a peer or a file may be able to reach a failing check.
#pragma once

namespace Vantrel {

// Reports a failed check and stops the process. Never returns.
[[noreturn]] void coAssertFailed(const char* condition, const char* file, int line);

}  // namespace Vantrel

#define CO_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : ::Vantrel::coAssertFailed(#condition, __FILE__, __LINE__))

// Fails with a fixed condition text, for checks whose text is part of the program's
// vocabulary and differs from the expression that is tested.
#define CO_ASSERT_TEXT(condition, text) \
    ((condition) ? static_cast<void>(0) : ::Vantrel::coAssertFailed(text, __FILE__, __LINE__))
