#include "tcp/CoOsError.h"

#include <netdb.h>

#include <cerrno>
#include <cstring>

namespace Vantrel {
namespace {

// strerror_r comes in two shapes; both are served so the choice of the C library's feature
// macros does not matter.
[[maybe_unused]] const char* pickErrorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* pickErrorText(const char* result, const char*) { return result; }

std::string systemErrorText(int code) {
    char buffer[CO_OS_ERROR_TEXT_MAX + 1] = {};
    const char* text = pickErrorText(strerror_r(code, buffer, sizeof buffer), buffer);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(code);
}

}  // namespace

std::string coOsErrorText(int code, CoErrorSource source) {
    std::string text;
    if (source == CoErrorSource::RESOLVER && code == EAI_SYSTEM) {
        text = systemErrorText(errno);
    } else if (source == CoErrorSource::RESOLVER) {
        text = gai_strerror(code);
    } else {
        text = systemErrorText(code);
    }
    if (text.size() > CO_OS_ERROR_TEXT_MAX) text.resize(CO_OS_ERROR_TEXT_MAX);
    return text;
}

std::string coCurrentOsErrorText() { return coOsErrorText(errno); }

int coTakeSocketError() { return errno; }

bool coStartSocketLibrary() { return true; }

}  // namespace Vantrel
