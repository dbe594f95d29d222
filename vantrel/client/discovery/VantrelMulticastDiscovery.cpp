#include "vantrel/client/discovery/VantrelMulticastDiscovery.h"

#include <chrono>
#include <exception>
#include <thread>
#include <vector>

#include "vantrel/CoMsg.h"
#include "vantrel/client/discovery/VantrelMulticastClient.h"

// An id that names an address and a port is connected to directly when discovery does not
// know it, so it does not start discovery by itself (that would delay the first connection by
// up to two seconds on a network without servers); discovery, once running, is asked first.
// An id without an address (a storage id or a database alone) needs discovery and starts it,
// and so does an address without a port (serversAt), which names no port to connect to.

namespace {

constexpr auto SEARCH_WAIT = std::chrono::seconds(1);
constexpr auto SEARCH_POLL = std::chrono::milliseconds(10);

VantrelMulticastClient* startedClient() {
    try {
        return &VantrelMulticastClient::getInstance();
    } catch (const std::exception& error) {
        CO_MSG_WARNING("Could not start server discovery: %s", error.what());
        return nullptr;
    }
}

VantrelMulticastClient* clientFor(const VantrelServerId& id) {
    VantrelMulticastClient* client = VantrelMulticastClient::existingInstance();
    if (client != nullptr || id.getIPAddr()[0] != '\0') return client;
    return startedClient();
}

std::vector<VantrelDaemonInfo> listedAt(VantrelMulticastClient& client, const VantrelServerId& id) {
    std::vector<VantrelDaemonInfo> found;
    for (const VantrelDaemonInfo& server : client.servers().copy(id.getDB()))
        if (server.isSameServer(id)) found.push_back(server);
    return found;
}

// A storage id that is not listed yet: ask the network and give the answers a second.
bool searchAndResolve(VantrelMulticastClient& client, const VantrelServerId& id,
                      VantrelDaemonInfo& info) {
    client.sendDiscovery(id.getDB());
    const auto end = std::chrono::steady_clock::now() + SEARCH_WAIT;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(SEARCH_POLL);
        if (client.servers().resolve(id, info)) return true;
    }
    return false;
}

// An id naming only a database: the first listed server of that kind. (The server-id rule
// never matches an id without an address or a storage id.)
bool resolveDatabase(VantrelMulticastClient& client, const VantrelServerId& id,
                     VantrelDaemonInfo& info) {
    if (id.getDB()[0] == '\0' || id.getStorageId()[0] != '\0' || id.getIPAddr()[0] != '\0')
        return false;
    const std::vector<VantrelDaemonInfo> servers = client.servers().copy(id.getDB());
    if (servers.empty()) return false;
    info = servers.front();
    return true;
}

}  // namespace

bool VantrelMulticastDiscovery::resolve(const VantrelServerId& id, VantrelDaemonInfo& info) {
    VantrelMulticastClient* client = clientFor(id);
    if (client == nullptr) return false;
    if (client->resolve(id, info) || resolveDatabase(*client, id, info)) return true;
    return id.getStorageId()[0] != '\0' && searchAndResolve(*client, id, info);
}

std::vector<VantrelDaemonInfo> VantrelMulticastDiscovery::serversAt(const VantrelServerId& id) {
    const bool wasRunning = VantrelMulticastClient::existingInstance() != nullptr;
    VantrelMulticastClient* client = startedClient();
    if (client == nullptr) return {};
    std::vector<VantrelDaemonInfo> found = listedAt(*client, id);
    if (wasRunning && !found.empty()) return found;
    // A fresh client has heard from the first server that answered its search and those that
    // server knows of: the others at this address get the time a search gives them.
    client->sendDiscovery(id.getDB());
    std::this_thread::sleep_for(SEARCH_WAIT);
    return listedAt(*client, id);
}

void VantrelMulticastDiscovery::serverAnswered(const VantrelDaemonInfo& info) {
    if (VantrelMulticastClient* client = VantrelMulticastClient::existingInstance())
        client->serverAnswered(info);
}

void VantrelMulticastDiscovery::dropServer(const VantrelDaemonInfo& info) {
    if (VantrelMulticastClient* client = VantrelMulticastClient::existingInstance())
        client->dropServer(info);
}

void VantrelMulticastDiscovery::searchStorageId(const char* storageId) {
    if (storageId == nullptr || storageId[0] == '\0') return;
    if (VantrelMulticastClient* client = VantrelMulticastClient::existingInstance())
        client->sendDiscovery(nullptr);
}

VantrelMulticastDiscovery& VantrelMulticastDiscovery::hooks() {
    static VantrelMulticastDiscovery instance;
    return instance;
}
