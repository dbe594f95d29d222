#include "vantrel/client/discovery/VantrelKnownServers.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "vantrel/CoMsg.h"
#include "osal/CoEnvSettings.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/VantrelServerInfo.h"

namespace {

int readDebugLevel() {
    const char* value = Vantrel::coGetEnv("VANTREL_MULTICAST_DEBUG");
    return value != nullptr ? std::atoi(value) : 0;
}

std::atomic<int> debugLevelValue{readDebugLevel()};  // read at load

bool holdsIPAddr(const VantrelDaemonInfo& record, const char* address) {
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i)
        if (std::string(record.getIPAddr(i)) == address) return true;
    return false;
}

void addSender(VantrelDaemonInfo& record, const char* sender) {
    if (sender == nullptr || sender[0] == '\0' || holdsIPAddr(record, sender)) return;
    const int used = record.getNumIPAddrs();
    if (used < VantrelDaemonInfo::MAX_IPS) record.setIPAddr(used, sender);
}

// Keeps the entries of one address list that are not loopback, in order, closing the gaps.
template <typename Get, typename Set>
void removeLoopback(Get get, Set set) {
    std::vector<std::string> kept;
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i) {
        const char* address = get(i);
        if (address[0] != '\0' && !VantrelOS::isLoopBackIP(address)) kept.push_back(address);
    }
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i)
        set(i, i < static_cast<int>(kept.size()) ? kept[i].c_str() : "");
}

}  // namespace

int VantrelKnownServers::debugLevel() { return debugLevelValue.load(); }

void VantrelKnownServers::setDebugLevel(int level) { debugLevelValue = level; }

void VantrelKnownServers::cleanUp(VantrelDaemonInfo& record, const char* sender) {
    addSender(record, sender);
    if (!record.isLocal()) {
        removeLoopback([&](int i) { return record.getIPAddr(i); },
                       [&](int i, const char* a) { record.setIPAddr(i, a); });
        removeLoopback([&](int i) { return record.getFrameIPAddr(i); },
                       [&](int i, const char* a) { record.setFrameIPAddr(i, a); });
    }
    if (record.getNodePort() == 0) record.setNodePort(DEFAULT_NODE_PORT);
    if (record.getDatabase()[0] == '\0') record.setDatabase(DEFAULT_DATABASE);
}

bool VantrelKnownServers::addOrUpdate(const VantrelDaemonInfo& record) {
    Vantrel::CoMutexGuard guard(lock_);
    for (auto listed = servers_.begin(); listed != servers_.end(); ++listed) {
        if (!listed->isSameServer(record)) continue;
        if (debugLevel() >= 1)
            CO_MSG_USER("Vantrel Multicast: updating '%s'", record.getStorageId());
        *listed = record;
        // Where a full stable sort would put it: among its equals, it keeps its place.
        const bool inOrder = (listed == servers_.begin() || !(record < *(listed - 1))) &&
                             (listed + 1 == servers_.end() || !(*(listed + 1) < record));
        if (!inOrder) std::stable_sort(servers_.begin(), servers_.end());
        return true;
    }
    if (servers_.size() >= capacity_) return false;
    if (debugLevel() >= 1) CO_MSG_USER("Vantrel Multicast: adding '%s'", record.getStorageId());
    servers_.insert(std::upper_bound(servers_.begin(), servers_.end(), record), record);
    return true;
}

bool VantrelKnownServers::removeNamedBy(const VantrelDaemonInfo& record) {
    const VantrelServerId id = VantrelServerInfo(record).getId();
    Vantrel::CoMutexGuard guard(lock_);
    for (auto it = servers_.begin(); it != servers_.end(); ++it) {
        if (!it->isSameServer(id)) continue;
        if (debugLevel() >= 1) CO_MSG_USER("Vantrel Multicast: Removing '%s'", id.getId());
        servers_.erase(it);
        return true;
    }
    return false;
}

bool VantrelKnownServers::removeSame(const VantrelDaemonInfo& record) {
    Vantrel::CoMutexGuard guard(lock_);
    const size_t before = servers_.size();
    servers_.erase(std::remove_if(servers_.begin(), servers_.end(),
                                  [&](const VantrelDaemonInfo& listed) {
                                      return listed.isSameServer(record);
                                  }),
                   servers_.end());
    return servers_.size() != before;
}

bool VantrelKnownServers::touch(const VantrelDaemonInfo& record, uint64_t now) {
    Vantrel::CoMutexGuard guard(lock_);
    for (VantrelDaemonInfo& listed : servers_) {
        if (!listed.isSameServer(record)) continue;
        listed.setLastSeen(now);
        return true;
    }
    return false;
}

size_t VantrelKnownServers::discardInactive(uint64_t now, uint64_t resyncMicros) {
    const uint64_t cutoff = now > 2 * resyncMicros ? now - 2 * resyncMicros : 0;
    if (debugLevel() >= 2)
        CO_MSG_USER("Vantrel Multicast: discarding servers inactive since %llu",
                    static_cast<unsigned long long>(cutoff));
    Vantrel::CoMutexGuard guard(lock_);
    const size_t before = servers_.size();
    auto silent = [&](const VantrelDaemonInfo& listed) {
        if (listed.getLastSeen() >= cutoff) return false;
        if (debugLevel() >= 1)
            CO_MSG_USER("Vantrel Multicast: discarding '%s'", listed.getStorageId());
        return true;
    };
    servers_.erase(std::remove_if(servers_.begin(), servers_.end(), silent), servers_.end());
    return before - servers_.size();
}

bool VantrelKnownServers::resolve(const VantrelServerId& id, VantrelDaemonInfo& out) const {
    Vantrel::CoMutexGuard guard(lock_);
    for (const VantrelDaemonInfo& listed : servers_) {
        if (!listed.isSameServer(id)) continue;
        out = listed;
        return true;
    }
    return false;
}

std::vector<VantrelDaemonInfo> VantrelKnownServers::copy(const char* database) const {
    Vantrel::CoMutexGuard guard(lock_);
    if (database == nullptr) return servers_;
    std::vector<VantrelDaemonInfo> matching;
    for (const VantrelDaemonInfo& listed : servers_)
        if (std::string(listed.getDatabase()) == database) matching.push_back(listed);
    return matching;
}

size_t VantrelKnownServers::size() const {
    Vantrel::CoMutexGuard guard(lock_);
    return servers_.size();
}

void VantrelKnownServers::clear() {
    Vantrel::CoMutexGuard guard(lock_);
    servers_.clear();
}
