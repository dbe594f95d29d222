#include "vantrel/CoMsg.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "osal/CoAssert.h"
#include "osal/CoEnvSettings.h"
#include "osal/CoTime.h"

namespace Vantrel {

const char CoMsg::USER_LEVEL_STRING[] = "user";
const char CoMsg::ERROR_LEVEL_STRING[] = "error";
const char CoMsg::WARNING_LEVEL_STRING[] = "warn";
const char CoMsg::NOTICE_LEVEL_STRING[] = "notice";
const char CoMsg::DEBUGGING_LEVEL_STRING[] = "debug";
const char CoMsg::UNKNOWN_LEVEL_STRING[] = "unknown";

namespace {

int returnZero() { return 0; }

// Process-wide state of the channel. No lock (see the header): the values are meant to be set
// at start-up, but threads of the library (the network monitor, for one) may already post
// while an application sets them, so each is a relaxed atomic: as cheap to read as a plain
// value, and never a data race.
struct ChannelState {
    std::atomic<CoMsg::Level> filterLevel{CoMsg::NOTICE_LEVEL};
    std::atomic<bool> filterComputed{false};
    std::atomic<bool> familyEnabled{false};
    std::atomic<const CoMsg::Router*> installedRouter{nullptr};
    std::atomic<int (*)()> currentPID{returnZero};
};

constexpr std::memory_order relaxed = std::memory_order_relaxed;

ChannelState& state() {
    static ChannelState s;
    return s;
}

CoMsg::Level levelFromSetting(const CoEnvStringSetting& setting) {
    if (setting.isDefault()) return CoMsg::NOTICE_LEVEL;
    return CoMsg::stringToLevel(setting.value().c_str());
}

CoEnvStringSetting& levelSetting() {
    static CoEnvStringSetting* setting = [] {
        auto* s = new CoEnvStringSetting("ZR_MSG_LEVEL", "");
        s->addChangeListener([s] {
            state().filterLevel.store(levelFromSetting(*s), relaxed);
            state().filterComputed.store(true, relaxed);
        });
        return s;
    }();
    return *setting;
}

CoEnvBoolSetting& verboseSetting() {
    static CoEnvBoolSetting setting("ZR_MSG_VERBOSE", false);
    return setting;
}

// Read both settings at load, as the channel promises.
[[maybe_unused]] const bool settingsReadAtLoad = (levelSetting(), verboseSetting(), true);

int trimmedLength(const std::string& text) {
    size_t n = text.size();
    while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1]))) --n;
    return static_cast<int>(n);
}

}  // namespace

CoMsg::CoMsg(const char* text, const char* file, int line, Level level, const char* family)
    : text_(text != nullptr ? text : ""),
      file_(reduceFileName(file)),
      family_(family != nullptr ? family : ""),
      processNumber_(callCurrentPIDCallback()),
      line_(line),
      level_(level),
      time_(static_cast<int64_t>(CoTime::getTime() / 1000000u)) {}

std::string CoMsg::reduceFileName(const char* path) {
    CO_ASSERT(path != nullptr);
    auto isSeparator = [](char c) { return c == '/' || c == '\\'; };
    size_t end = std::strlen(path);
    if (end == 0) return std::string();
    while (end > 0 && isSeparator(path[end - 1])) --end;
    if (end == 0) return std::string("\\");
    size_t begin = end;
    while (begin > 0 && !isSeparator(path[begin - 1])) --begin;
    return std::string(path + begin, end - begin);
}

const char* CoMsg::format(char* buffer, int size) const {
    if (buffer == nullptr || size <= 0) return buffer;
    const time_t seconds = static_cast<time_t>(time_);
    const std::tm local = CoTime::localTime(seconds);
    char date[64];
    char clock[64];
    std::strftime(date, sizeof date, "%x", &local);
    std::strftime(clock, sizeof clock, "%X", &local);
    const int milliseconds = static_cast<int>((CoTime::getTime() / 1000u) % 1000u);
    const int textLength = trimmedLength(text_);
    if (isFamilyEnabled()) {
        std::snprintf(buffer, static_cast<size_t>(size), "[%s] [%s] %u %s:%d %s:%s.%.3d %.*s\n",
                      levelToString(level_), family_.c_str(), static_cast<unsigned>(processNumber_),
                      file_.c_str(), line_, date, clock, milliseconds, textLength, text_.c_str());
    } else {
        std::snprintf(buffer, static_cast<size_t>(size), "[%s] %u %s:%d %s:%s.%.3d %.*s\n",
                      levelToString(level_), static_cast<unsigned>(processNumber_), file_.c_str(),
                      line_, date, clock, milliseconds, textLength, text_.c_str());
    }
    return buffer;
}

CoMsg::Router::~Router() = default;

void CoMsg::Router::post(const CoMsg& msg) const { post(msg, stdout); }

void CoMsg::Router::post(const CoMsg& msg, FILE* stream) const {
    if (verboseFlag() && msg.line() >= 1) {
        char line[MAX_LINE + 1];
        msg.format(line, sizeof line);
        std::fputs(line, stream);
    } else {
        std::fprintf(stream, "%.*s\n", trimmedLength(msg.text()), msg.text().c_str());
    }
    std::fflush(stream);
}

void CoMsg::postAt(Level level, const char* file, int line, const char* family,
                   const char* format, va_list args) {
    if (static_cast<int>(level) > static_cast<int>(filterLevel())) return;
    CO_ASSERT_TEXT(format != nullptr, "fmt != 0");
    char text[MAX_TEXT + 1];
    std::vsnprintf(text, sizeof text, format, args);
    router().post(CoMsg(text, file, line, level, family));
}

void CoMsg::postUser(const char* file, int line, const char* family, const char* format, va_list args) {
    postAt(USER_LEVEL, file, line, family, format, args);
}
void CoMsg::postError(const char* file, int line, const char* family, const char* format, va_list args) {
    postAt(ERROR_LEVEL, file, line, family, format, args);
}
void CoMsg::postWarning(const char* file, int line, const char* family, const char* format, va_list args) {
    postAt(WARNING_LEVEL, file, line, family, format, args);
}
void CoMsg::postNotice(const char* file, int line, const char* family, const char* format, va_list args) {
    postAt(NOTICE_LEVEL, file, line, family, format, args);
}
void CoMsg::postDebug(const char* file, int line, const char* family, const char* format, va_list args) {
    postAt(DEBUGGING_LEVEL, file, line, family, format, args);
}

void CoMsg::postConsole(const char* file, int line, const char* family, const char* format, va_list args) {
    CO_ASSERT_TEXT(format != nullptr, "fmt != 0");
    char text[MAX_TEXT + 1];
    std::vsnprintf(text, sizeof text, format, args);
    if (isFamilyEnabled()) {
        std::fprintf(stdout, "%s %s\n", family != nullptr ? family : "", text);
    } else {
        std::fprintf(stdout, "%s\n", text);
    }
    std::fflush(stdout);
}

void CoMsg::postShell(const char* file, int line, const char* family, const char* format, va_list args) {
    postConsole(file, line, family, format, args);
}

const char* CoMsg::levelToString(Level level) {
    switch (level) {
        case USER_LEVEL: return USER_LEVEL_STRING;
        case ERROR_LEVEL: return ERROR_LEVEL_STRING;
        case WARNING_LEVEL: return WARNING_LEVEL_STRING;
        case NOTICE_LEVEL: return NOTICE_LEVEL_STRING;
        case DEBUGGING_LEVEL: return DEBUGGING_LEVEL_STRING;
        default: return UNKNOWN_LEVEL_STRING;
    }
}

CoMsg::Level CoMsg::stringToLevel(const char* name) {
    if (name == nullptr) return UNKNOWN_LEVEL;
    static const struct { const char* name; Level level; } table[] = {
        {USER_LEVEL_STRING, USER_LEVEL},       {ERROR_LEVEL_STRING, ERROR_LEVEL},
        {DEBUGGING_LEVEL_STRING, DEBUGGING_LEVEL}, {NOTICE_LEVEL_STRING, NOTICE_LEVEL},
        {WARNING_LEVEL_STRING, WARNING_LEVEL},
    };
    for (const auto& entry : table)
        if (std::strcmp(name, entry.name) == 0) return entry.level;
    return UNKNOWN_LEVEL;
}

CoMsg::Level CoMsg::filterLevel() {
    ChannelState& s = state();
    if (!s.filterComputed.load(relaxed)) {
        s.filterLevel.store(levelFromSetting(levelSetting()), relaxed);
        s.filterComputed.store(true, relaxed);
    }
    return s.filterLevel.load(relaxed);
}

void CoMsg::setFilterLevel(Level level) {
    state().filterLevel.store(level, relaxed);
    state().filterComputed.store(true, relaxed);
}

void CoMsg::setDefaultFilterLevel(Level level) {
    if (levelSetting().isDefault()) setFilterLevel(level);
}

bool CoMsg::verboseFlag() { return verboseSetting().value(); }
void CoMsg::setVerboseFlag(bool verbose) { verboseSetting().set(verbose); }

void CoMsg::enableFamily(bool enable) { state().familyEnabled.store(enable, relaxed); }
bool CoMsg::isFamilyEnabled() { return state().familyEnabled.load(relaxed); }

const CoMsg::Router& CoMsg::router() {
    const Router* installed = state().installedRouter.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : defaultRouter();
}

const CoMsg::Router& CoMsg::defaultRouter() {
    static const Router* plain = new Router;  // lives until the process ends
    return *plain;
}

void CoMsg::setRouter(const Router* router) {
    state().installedRouter.store(router, std::memory_order_release);
}

void CoMsg::setCurrentPIDCallback(int (*callback)()) {
    if (callback != nullptr) state().currentPID.store(callback, relaxed);
}

int CoMsg::callCurrentPIDCallback() {
    int (*const callback)() = state().currentPID.load(relaxed);
    CO_ASSERT_TEXT(callback != nullptr, "currentPIDCallback");
    return callback();
}

// Builders.

CoMsgBuilderBase::CoMsgBuilderBase() : file_("<unknown>"), line_(0), post_(nullptr) {}

CoMsgBuilderBase::CoMsgBuilderBase(const char* file, int line, CoMsg::PostFunction post)
    : file_(file), line_(line), post_(post) {}

CoMsgBuilderBase::~CoMsgBuilderBase() = default;

void CoMsgBuilderBase::post(const char* family, const char* format, va_list args) const {
    CO_ASSERT(post_ != nullptr);
    post_(file_, line_, family, format, args);
}

CoMsgBuilder<0>::~CoMsgBuilder() = default;

void CoMsgBuilder<0>::operator()(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    post("-", format, args);
    va_end(args);
}

CoMsgBuilder<1>::~CoMsgBuilder() = default;

void CoMsgBuilder<1>::operator()(const char* family, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    post(family, format, args);
    va_end(args);
}

// The standard-error router.

CoStderrLogger::CoStderrLogger() {
    CO_ASSERT_TEXT(&CoMsg::router() != this, "&CoMsg::router() != this");
    CoMsg::setRouter(this);
    const char* level = coGetEnv("ZR_MSG_LEVEL");
    CoMsg::setFilterLevel(level != nullptr ? CoMsg::stringToLevel(level) : CoMsg::ERROR_LEVEL);
}

CoStderrLogger::~CoStderrLogger() { CoMsg::setRouter(nullptr); }

void CoStderrLogger::post(const CoMsg& msg) const {
    if (static_cast<int>(msg.level()) <= static_cast<int>(CoMsg::filterLevel()))
        Router::post(msg, stderr);
}

}  // namespace Vantrel
