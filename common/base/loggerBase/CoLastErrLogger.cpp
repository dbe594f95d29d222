#include "loggerBase/CoLastErrLogger.h"

#include <cstdarg>
#include <cstdio>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"

namespace Vantrel {

CoLastErrLogger::CoLastErrLogger() : silent_(false), line_(0) {}

CoLastErrLogger::~CoLastErrLogger() = default;

const CoLastErrLogger& CoLastErrLogger::setModule(const char* file, int line) const {
    module_ = file != nullptr ? file : "";
    line_ = line;
    return *this;
}

void CoLastErrLogger::postError(const char* format, ...) const {
    CO_ASSERT_TEXT(format != nullptr, "fmt");
    char text[CoMsg::MAX_TEXT + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const CoMsg msg(text, module_.c_str(), line_, CoMsg::ERROR_LEVEL, "");
    lastError_ = msg.text();
    if (!silent_) CoMsg::router().post(msg);
}

std::string CoLastErrLogger::getLastError() const { return lastError_; }

void CoLastErrLogger::clearLastError() const { lastError_.clear(); }

void CoLastErrLogger::setSilentMode(bool silent) { silent_ = silent; }

bool CoLastErrLogger::getSilentMode() const { return silent_; }

void CoLastErrLogger::assignError(const CoLastErrLogger& other) const {
    module_ = other.module_;
    line_ = other.line_;
    lastError_ = other.lastError_;
}

}  // namespace Vantrel
