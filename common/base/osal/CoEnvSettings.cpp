#include "osal/CoEnvSettings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace Vantrel {
namespace {

// The registry of string settings. It lives as long as the process (settings are statics
// destroyed at exit in any order), so it is never freed.
struct Registry {
    std::mutex mutex;
    std::vector<CoEnvStringSetting*> settings;
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

}  // namespace

const char* coGetEnv(const char* name) { return std::getenv(name); }

bool coEnvExists(const char* name) { return std::getenv(name) != nullptr; }

long coEnvLong(const char* name, long defaultValue) {
    const char* raw = std::getenv(name);
    if (raw == nullptr || *raw == '\0') return defaultValue;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(raw, &end, 10);
    if (errno != 0 || end == raw) return defaultValue;
    return value;
}

CoEnvStringSetting::CoEnvStringSetting(const char* name, const char* defaultValue)
    : name_(name), default_(defaultValue), value_(defaultValue) {
    if (const char* raw = std::getenv(name)) value_ = raw;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.settings.push_back(this);
}

CoEnvStringSetting::~CoEnvStringSetting() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.settings.erase(std::remove(r.settings.begin(), r.settings.end(), this), r.settings.end());
}

void CoEnvStringSetting::set(const std::string& value) {
    value_ = value;
    for (const auto& listener : listeners_) listener();
}

void CoEnvStringSetting::reload() {
    const char* raw = std::getenv(name_.c_str());
    set(raw != nullptr ? std::string(raw) : default_);
}

void CoEnvStringSetting::addChangeListener(std::function<void()> listener) {
    listeners_.push_back(std::move(listener));
}

CoEnvStringSetting* CoEnvStringSetting::find(const std::string& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (CoEnvStringSetting* setting : r.settings)
        if (setting->name_ == name) return setting;
    return nullptr;
}

CoEnvBoolSetting::CoEnvBoolSetting(const char* name, bool defaultValue)
    : name_(name), default_(defaultValue), value_(parse(std::getenv(name), defaultValue)) {}

void CoEnvBoolSetting::reload() { set(parse(std::getenv(name_.c_str()), default_)); }

bool CoEnvBoolSetting::parse(const char* raw, bool defaultValue) {
    if (raw == nullptr) return defaultValue;
    return std::strcmp(raw, "false") != 0 && std::strcmp(raw, "FALSE") != 0 &&
           std::strcmp(raw, "0") != 0;
}

}  // namespace Vantrel
