#include "network/CoNetworkLocal.h"

#include "vantrel/CoMsg.h"
#include "network/CoNetwork.h"
#include "network/CoNetworkConfig.h"
#include "osal/CoAssert.h"
#include "tcp/CoNameResolver.h"

namespace Vantrel {

bool CoNetworkLocal::getHostName(std::string& name) {
    CO_ASSERT(CoNetwork::isInitialized());
    return lookUpHostName(name);
}

bool CoNetworkLocal::lookUpHostName(std::string& name) {
    std::string error;
    if (!CoNameResolver::current().localHostName(name, error)) {
        CO_MSG_ERROR("Could not retrieve host name: %s", error.c_str());
        name = "localhost";
    }
    return true;
}

bool CoNetworkLocal::getDisplayName(std::string& name) {
    std::string configured;
    CoNetworkConfig::getInstance().getDisplayName(configured);
    if (configured.empty()) return getHostName(name);
    name = configured;
    return true;
}

bool CoNetworkLocal::getUUID(std::string& uuid) {
    return CoNetworkConfig::getInstance().getUUID(uuid);
}

}  // namespace Vantrel
