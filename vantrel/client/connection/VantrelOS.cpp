#include "vantrel/VantrelOS.h"

#include <cstring>
#include <mutex>
#include <string>

#include "vantrel/client/connection/VantrelOSPlatform.h"
#include "vantrel/client/connection/VantrelTextUtil.h"

namespace {

const char UNKNOWN_TEXT[] = "unknown";

// The id set by setUserId(), shared by the whole process.
class UserIdOverride {
public:
    static UserIdOverride& instance() {
        static UserIdOverride theOverride;
        return theOverride;
    }
    void set(const char* userId) {
        std::lock_guard<std::mutex> lock(mutex_);
        userId_ = userId != nullptr ? userId : "";
    }
    std::string get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return userId_;
    }

private:
    mutable std::mutex mutex_;
    std::string userId_;  // guarded by mutex_ (std::mutex carries no lock annotation)
};

VantrelStr orUnknown(bool (*ask)(std::string&)) {
    std::string text;
    if (!ask(text) || text.empty()) return VantrelStr(UNKNOWN_TEXT);
    return VantrelStr(text.c_str());
}

}  // namespace

VantrelOS::~VantrelOS() = default;

VantrelOS::OsType VantrelOS::getOSType() { return Vantrel::vantrelOsPlatform::osType(); }

VantrelOS::OsType VantrelOS::strToOsType(const char* text) {
    for (OsType type : {Irix, Linux, WindowsNT, MacOSX})
        if (Vantrel::equalsIgnoringAsciiCase(text, OsTypeStr(type))) return type;
    return Unknown;
}

const char* VantrelOS::OsTypeStr(OsType type) {
    switch (type) {
        case Irix: return OS_TYPE_IRIX_STR();
        case Linux: return OS_TYPE_LINUX_STR();
        case WindowsNT: return OS_TYPE_WINNT_STR();
        case MacOSX: return OS_TYPE_MACOSX_STR();
        default: return OS_TYPE_UNKNOWN_STR();
    }
}

VantrelStr VantrelOS::getOSVersion() { return orUnknown(Vantrel::vantrelOsPlatform::osVersion); }

VantrelStr VantrelOS::getUserId() {
    const std::string userId = UserIdOverride::instance().get();
    if (!userId.empty()) return VantrelStr(userId.c_str());
    return orUnknown(Vantrel::vantrelOsPlatform::effectiveUserName);
}

void VantrelOS::setUserId(const char* userId) { UserIdOverride::instance().set(userId); }

VantrelStr VantrelOS::getGroupId() { return orUnknown(Vantrel::vantrelOsPlatform::effectiveGroupName); }

bool VantrelOS::isLoopBackIP(const char* address) {
    if (address == nullptr) return false;
    for (const char* loopBack : {"localhost", "127.0.0.1", "::1"})
        if (std::strcmp(address, loopBack) == 0) return true;
    return false;
}
