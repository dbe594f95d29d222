#include "vantrel/CoException.h"

#include <cstdio>
#include <cstring>

#include "osal/CoEnvSettings.h"

namespace Vantrel {

bool CoException::verbose_ = coEnvExists("ZR_VERBOSE_EXCEPTIONS");

CoException::CoException(int line, const char* file) : CoException("", line, file) {}

CoException::CoException(const char* message, int line, const char* file)
    : file_{}, text_{}, line_(line), expertOffset_(0) {
    std::snprintf(file_, sizeof file_, "%s", file != nullptr ? file : "");
    setWhat(message, nullptr);
}

CoException::~CoException() = default;

void CoException::fire(const char* message, const char* detailFormat, ...) {
    va_list args;
    va_start(args, detailFormat);
    setWhat(message, detailFormat, args);
    va_end(args);
    throw CoException(*this);
}

const char* CoException::what() const noexcept { return text_; }

const char* CoException::expertData() const { return text_ + expertOffset_; }

void CoException::enableVerboseExceptions(bool verbose) { verbose_ = verbose; }

bool CoException::verboseExceptions() { return verbose_; }

void CoException::setWhat(const char* message, const char* detailFormat, ...) {
    va_list args;
    va_start(args, detailFormat);
    setWhat(message, detailFormat, args);
    va_end(args);
}

void CoException::setWhat(const char* message, const char* detailFormat, va_list args) {
    const int last = TEXT_SIZE - 1;  // the most characters the text holds
    int n = std::snprintf(text_, TEXT_SIZE, "%s", message != nullptr ? message : "");
    if (n < 0 || n > last) {
        expertOffset_ = last;
        return;
    }
    if (verbose_) {
        const int added = std::snprintf(text_ + n, static_cast<size_t>(TEXT_SIZE - n),
                                        " f:%s l:%d", file_, line_);
        if (added < 0 || n + added > last) {
            expertOffset_ = last;
            return;
        }
        n += added;
    }
    if (detailFormat == nullptr || TEXT_SIZE - n < 3) {
        expertOffset_ = n;
        return;
    }
    if (verbose_) text_[n] = ' ';
    expertOffset_ = n + 1;
    std::vsnprintf(text_ + expertOffset_, static_cast<size_t>(TEXT_SIZE - expertOffset_),
                   detailFormat, args);
}

}  // namespace Vantrel
