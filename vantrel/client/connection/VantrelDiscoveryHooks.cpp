#include "vantrel/client/connection/VantrelDiscoveryHooks.h"

#include <atomic>

namespace {

// What connections see before discovery is installed.
class NoDiscovery : public VantrelDiscoveryHooks {
public:
    bool resolve(const VantrelServerId&, VantrelDaemonInfo&) override { return false; }
    std::vector<VantrelDaemonInfo> serversAt(const VantrelServerId&) override { return {}; }
    void serverAnswered(const VantrelDaemonInfo&) override {}
    void dropServer(const VantrelDaemonInfo&) override {}
    void searchStorageId(const char*) override {}
};

NoDiscovery noDiscovery;
std::atomic<VantrelDiscoveryHooks*> installedHooks{&noDiscovery};

}  // namespace

void VantrelDiscoveryHooks::install(VantrelDiscoveryHooks* hooks) {
    installedHooks = hooks != nullptr ? hooks : &noDiscovery;
}

VantrelDiscoveryHooks& VantrelDiscoveryHooks::installed() { return *installedHooks; }
