// Server discovery as the connections see it: the discovery hooks answered by the process's
// multicast client (VantrelMulticastClient), which starts on the first id that needs it.
// Threads: callable from any thread.
#pragma once

#include "vantrel/client/connection/VantrelDiscoveryHooks.h"

class VantrelMulticastDiscovery : public VantrelDiscoveryHooks {
public:
    // The process's one instance, for VantrelDiscoveryHooks::install; it lives for ever.
    static VantrelMulticastDiscovery& hooks();

    bool resolve(const VantrelServerId& id, VantrelDaemonInfo& info) override;
    std::vector<VantrelDaemonInfo> serversAt(const VantrelServerId& id) override;
    void serverAnswered(const VantrelDaemonInfo& info) override;
    void dropServer(const VantrelDaemonInfo& info) override;
    void searchStorageId(const char* storageId) override;
};
