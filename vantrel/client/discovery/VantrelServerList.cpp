#include "vantrel/VantrelServerList.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/client/discovery/VantrelMulticastClient.h"
#include "vantrel/VantrelServerInfo.h"

struct VantrelServerList::State {
    std::string lastError;
    std::string database;
    std::string gatewayIpAddr;
    int gatewayPort = 0;
    std::vector<VantrelDaemonInfo> servers;

    // Runs `operation`, turning an exception into false and its text.
    template <typename Operation>
    bool guarded(Operation operation) {
        try {
            if (operation()) return true;
        } catch (const std::exception& error) {
            lastError = error.what();
        }
        return false;
    }
    bool fail(const std::string& reason) {
        lastError = reason;
        return false;
    }
};

VantrelServerList::VantrelServerList(const char* database, const char* gatewayIpAddr,
                                     int gatewayPort)
    : state_(new State) {
    state_->database = database != nullptr ? database : "";
    state_->gatewayIpAddr = gatewayIpAddr != nullptr ? gatewayIpAddr : "";
    state_->gatewayPort = gatewayPort;
}

VantrelServerList::VantrelServerList(const VantrelServerList& other)
    : state_(new State(*other.state_)) {}

VantrelServerList& VantrelServerList::operator=(const VantrelServerList& other) {
    if (this != &other) *state_ = *other.state_;
    return *this;
}

VantrelServerList::~VantrelServerList() { delete state_; }

bool VantrelServerList::getNumNodes(int& count) {
    return state_->guarded([&] {
        State& s = *state_;
        VantrelMulticastClient::getInstance().findServers(
            s.servers, s.database.empty() ? nullptr : s.database.c_str(),
            s.gatewayIpAddr.empty() ? nullptr : s.gatewayIpAddr.c_str(),
            static_cast<unsigned>(std::max(0, s.gatewayPort)));
        std::stable_sort(s.servers.begin(), s.servers.end());
        count = static_cast<int>(s.servers.size());
        return true;
    });
}

bool VantrelServerList::getNode(int index, VantrelServerInfo& info) {
    const int count = static_cast<int>(state_->servers.size());
    if (index < 0 || index >= count)
        return state_->fail("Index " + std::to_string(index) + " is out of the bounds 0," +
                            std::to_string(count) + ".");
    info = state_->servers[static_cast<size_t>(index)];
    return true;
}

bool VantrelServerList::refresh() {
    return state_->guarded([&] {
        VantrelMulticastClient::getInstance().sendDiscovery(state_->database.c_str());
        return true;
    });
}

bool VantrelServerList::resolve(const VantrelServerId& id, VantrelServerInfo& info) {
    return state_->guarded([&] {
        VantrelDaemonInfo record;
        if (!VantrelMulticastClient::getInstance().resolve(id, record))
            return state_->fail("Server not found");
        info = record;
        return true;
    });
}

bool VantrelServerList::resolveStorageId(const char* storageId, VantrelServerId& id) {
    VantrelServerId wanted;
    wanted.setStorageId(storageId != nullptr ? storageId : "");
    VantrelServerInfo info;
    if (!resolve(wanted, info)) return false;
    id = info.getId();
    return true;
}

const char* VantrelServerList::getGatewayIpAddr() const { return state_->gatewayIpAddr.c_str(); }

int VantrelServerList::getGatewayPort() const { return state_->gatewayPort; }

const char* VantrelServerList::lastError() const { return state_->lastError.c_str(); }
