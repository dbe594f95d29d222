#include "network/CoNetworkDispatcher.h"
#include "network/CoNetworkLocal.h"
#include "vantrel/client/connection/VantrelLocalHostProvider.h"

namespace {

// The local host facts as the network layer knows them.
class SystemLocalHost : public VantrelLocalHostProvider {
public:
    std::string hostName() const override {
        std::string name;
        Vantrel::CoNetworkLocal::lookUpHostName(name);
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
