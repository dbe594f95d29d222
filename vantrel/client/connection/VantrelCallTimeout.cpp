#include "vantrel/client/connection/VantrelCallTimeout.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "vantrel/CoMsg.h"
#include "osal/CoEnvSettings.h"

namespace {

std::atomic<uint32_t> applicationCeiling{0};
// What the variable gives; 0 until first read, and again after the setting changes.
std::atomic<uint32_t> environmentCeiling{0};

Vantrel::CoEnvStringSetting& setting() {
    static Vantrel::CoEnvStringSetting* instance = [] {
        static Vantrel::CoEnvStringSetting variable(VantrelCallTimeout::VARIABLE, "");
        variable.addChangeListener([] { environmentCeiling = 0; });
        return &variable;
    }();
    return *instance;
}
[[maybe_unused]] const bool settingReadAtLoad = (setting(), true);

uint32_t readEnvironment() {
    const std::string& value = setting().value();
    bool valid = true;
    const uint32_t ceiling = VantrelCallTimeout::parse(value.c_str(), valid);
    if (!valid)
        CO_MSG_WARNING("Ignoring %s='%s': not a number of milliseconds from 1 to 4294967295",
                       VantrelCallTimeout::VARIABLE, value.c_str());
    return ceiling;
}

}  // namespace

namespace VantrelCallTimeout {

uint32_t parse(const char* value, bool& valid) {
    valid = true;
    if (value == nullptr || *value == '\0') return DEFAULT_MS;
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(value, &end, 10);
    valid = errno == 0 && *end == '\0' && *value >= '0' && *value <= '9' && number >= 1 &&
            number <= UINT32_MAX;
    return valid ? static_cast<uint32_t>(number) : DEFAULT_MS;
}

void set(uint32_t ms) { applicationCeiling = ms; }

uint32_t ceiling() {
    const uint32_t application = applicationCeiling.load();
    if (application != 0) return application;
    uint32_t environment = environmentCeiling.load();
    if (environment == 0) {
        environment = readEnvironment();
        environmentCeiling = environment;
    }
    return environment;
}

uint32_t bound(uint32_t requestedMs) { return std::min(requestedMs, ceiling()); }

}  // namespace VantrelCallTimeout
