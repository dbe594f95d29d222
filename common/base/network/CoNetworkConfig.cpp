#include "network/CoNetworkConfig.h"

#include "vantrel/CoMsg.h"
#include "osal/CoConfigFile.h"
#include "osal/CoEnvSettings.h"
#include "osal/CoUUID.h"

namespace Vantrel {
namespace {

const char NETWORK_CFG_VARIABLE[] = "VANTREL_NETWORK_CFG";

// Turns the logger's silent mode on for a scope and restores the previous mode after it.
class SilentScope {
public:
    explicit SilentScope(CoLastErrLogger& logger)
        : logger_(logger), previous_(logger.getSilentMode()) {
        logger_.setSilentMode(true);
    }
    ~SilentScope() { logger_.setSilentMode(previous_); }
    SilentScope(const SilentScope&) = delete;
    SilentScope& operator=(const SilentScope&) = delete;

private:
    CoLastErrLogger& logger_;
    const bool previous_;
};

}  // namespace

CoNetworkConfig& CoNetworkConfig::getInstance() {
    static CoNetworkConfig instance;
    return instance;
}

CoNetworkConfig::CoNetworkConfig(const std::string& defaultFileName)
    : defaultFileName_(defaultFileName) {}

CoNetworkConfig::~CoNetworkConfig() = default;

bool CoNetworkConfig::parse() {
    if (store_) return true;
    store_.reset(new CoConfigFileReader);
    const char* named = coGetEnv(NETWORK_CFG_VARIABLE);
    const bool explicitlyNamed = named != nullptr && *named != '\0';
    fileName_ = explicitlyNamed ? named : defaultFileName_;
    // The default file is optional; a file the user named and we cannot read is worth a word.
    if (!store_->readFile(fileName_) && explicitlyNamed)
        CO_MSG_WARNING("Can't read the network configuration '%s' named by %s", fileName_.c_str(),
                       NETWORK_CFG_VARIABLE);
    for (const std::string& warning : store_->warnings()) CO_MSG_WARNING("%s", warning.c_str());
    return true;
}

bool CoNetworkConfig::getToken(const char* section, const char* key, std::string& value,
                               const char* defaultValue) {
    CoMutexGuard guard(lock_);
    parse();
    store_->get(section, key, value, defaultValue);
    return true;
}

bool CoNetworkConfig::getToken(const char* section, const char* key, unsigned int& value,
                               unsigned int defaultValue) {
    CoMutexGuard guard(lock_);
    parse();
    store_->get(section, key, value, defaultValue);
    return true;
}

bool CoNetworkConfig::getToken(const char* section, const char* key,
                               std::vector<std::string>& values) {
    CoMutexGuard guard(lock_);
    parse();
    store_->getList(section, key, values);
    return true;
}

bool CoNetworkConfig::getDataInterfaces(std::vector<std::string>& interfaces) {
    return getToken(INTERFACES_SECTION_TOKEN, INTERFACES_DATA_TOKEN, interfaces);
}

bool CoNetworkConfig::getMetadataInterfaces(std::vector<std::string>& interfaces) {
    return getToken(INTERFACES_SECTION_TOKEN, INTERFACES_METADATA_TOKEN, interfaces);
}

bool CoNetworkConfig::getMulticastInterfaces(std::vector<std::string>& interfaces) {
    return getToken(INTERFACES_SECTION_TOKEN, INTERFACES_MULTICAST_TOKEN, interfaces);
}

bool CoNetworkConfig::getDisplayName(std::string& name) {
    return getToken(LOCAL_SECTION_TOKEN, LOCAL_DISPLAY_NAME_TOKEN, name, "");
}

bool CoNetworkConfig::getUUID(std::string& uuid) {
    CoMutexGuard guard(lock_);
    parse();
    std::string configured;
    store_->get(LOCAL_SECTION_TOKEN, LOCAL_UUID_TOKEN, configured, "");
    if (configured.empty()) {
        // Many hosts have no UUID configured and their callers fall back to another source,
        // so the text is only kept as the last error.
        SilentScope silent(*this);
        setModule(__FILE__, __LINE__)
            .postError("No host UUID configured. Please check %s.", fileName_.c_str());
        return false;
    }
    if (!CoUUID::validate(configured)) {
        setModule(__FILE__, __LINE__).postError("Invalid UUID '%s'", configured.c_str());
        return false;
    }
    uuid = configured;
    return true;
}

bool CoNetworkConfig::getSelfDiscoveryPort(unsigned int& port) {
    return getToken(SELF_DISCOVERY_SECTION_TOKEN, SELF_DISCOVERY_PORT_TOKEN, port, port);
}

bool CoNetworkConfig::getSelfDiscoveryScope(std::string& scope) {
    const std::string incoming = scope;
    return getToken(SELF_DISCOVERY_SECTION_TOKEN, SELF_DISCOVERY_SCOPE_TOKEN, scope,
                    incoming.c_str());
}

bool CoNetworkConfig::getSelfDiscoveryTTL(unsigned int& ttl) {
    return getToken(SELF_DISCOVERY_SECTION_TOKEN, SELF_DISCOVERY_TTL_TOKEN, ttl, ttl);
}

}  // namespace Vantrel
