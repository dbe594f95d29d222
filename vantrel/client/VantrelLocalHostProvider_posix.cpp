#include "loggerBase/CoMsg.h"
#include "network/CoNetwork.h"
#include "network/CoNetworkDispatcher.h"
#include "network/CoNetworkLocal.h"
#include "tcp/CoNameResolver.h"
#include "vantrel/client/VantrelLocalHostProvider.h"

namespace {

// The local host facts as the network layer knows them.
class SystemLocalHost : public VantrelLocalHostProvider {
public:
    std::string hostName() const override {
        std::string name;
        if (Vantrel::CoNetwork::isInitialized()) {
            Vantrel::CoNetworkLocal::getHostName(name);
            return name;
        }
        // Value types may be used before the library is initialised: ask the resolver the
        // network layer asks, with the same fallback.
        std::string error;
        if (!Vantrel::CoNameResolver::current().localHostName(name, error)) {
            CO_MSG_ERROR("Could not retrieve host name: %s", error.c_str());
            return "localhost";
        }
        return name;
    }

    std::vector<std::string> interfaceAddresses() const override {
        Vantrel::CoNetworkDispatcher dispatcher(0);
        std::vector<Vantrel::CoNetworkInterface> interfaces;
        dispatcher.getInterfaces(interfaces, Vantrel::CoNetworkDispatcher::ALL);
        std::vector<std::string> addresses;
        addresses.reserve(interfaces.size());
        for (const auto& networkInterface : interfaces) addresses.push_back(networkInterface.getIP());
        return addresses;
    }

    bool hostUUID(std::string& uuid) const override {
        std::string configured;
        if (!Vantrel::CoNetworkLocal::getUUID(configured) || configured.empty()) return false;
        uuid = configured;
        return true;
    }
};

}  // namespace

const VantrelLocalHostProvider& VantrelLocalHostProvider::systemProvider() {
    static const SystemLocalHost theSystem;
    return theSystem;
}
