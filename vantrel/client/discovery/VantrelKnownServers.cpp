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

bool holdsNodeOrDataAddr(const VantrelDaemonInfo& record, const char* address) {
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i)
        if (std::string(record.getFrameIPAddr(i)) == address) return true;
    return holdsIPAddr(record, address);
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

// Whether an announcement from `sender` may change `listed`.
bool VantrelKnownServers::speaksFor(const VantrelDaemonInfo& listed, const char* sender) {
    if (sender == nullptr || listed.getNumIPAddrs() + listed.getNumFrameIPAddrs() == 0 ||
        holdsNodeOrDataAddr(listed, sender))
        return true;
    if (debugLevel() >= 1)
        CO_MSG_USER("Vantrel Multicast: ignoring '%s' from %s, not an address of the listed server",
                    listed.getStorageId(), sender);
    return false;
}

bool VantrelKnownServers::addOrUpdate(const VantrelDaemonInfo& record, const char* sender) {
    Vantrel::CoMutexGuard guard(lock_);
    if (Listed* listed = findSame(record)) {
        if (!speaksFor(listed->record, sender)) return false;
        if (debugLevel() >= 1)
            CO_MSG_USER("Vantrel Multicast: updating '%s'", record.getStorageId());
        listed->record = record;
        return true;
    }
    const std::string from = sender != nullptr ? sender : "";
    if (!hasRoomFor(record, from)) return false;
    if (debugLevel() >= 1) CO_MSG_USER("Vantrel Multicast: adding '%s'", record.getStorageId());
    add(record, from);
    return true;
}

VantrelKnownServers::Listed* VantrelKnownServers::findSame(const VantrelDaemonInfo& record) {
    if (record.getStorageId()[0] != '\0') {
        const auto found = byStorageId_.find(record.getStorageId());
        return found != byStorageId_.end() ? &found->second : nullptr;
    }
    for (Listed& listed : withoutStorageId_)
        if (listed.record.isSameServer(record)) return &listed;
    return nullptr;
}

bool VantrelKnownServers::hasRoomFor(const VantrelDaemonInfo& record, const std::string& sender) {
    const size_t listed = byStorageId_.size() + withoutStorageId_.size();
    if (listed >= capacity_) {
        if (!fullPosted_)
            CO_MSG_WARNING("Vantrel Multicast: %zu servers listed, the most kept; new servers are "
                           "not listed until some fall silent.", listed);
        fullPosted_ = true;
        return false;
    }
    const bool withoutId = record.getStorageId()[0] == '\0';
    const auto added = addedBySender_.find(sender);
    const bool senderFull = !sender.empty() && added != addedBySender_.end() &&
                            added->second >= MAX_PER_SENDER;
    if ((withoutId && withoutStorageId_.size() >= MAX_WITHOUT_STORAGE_ID) || senderFull) {
        if (debugLevel() >= 1)
            CO_MSG_USER("Vantrel Multicast: not listing '%s' from %s: too many servers of its kind",
                        record.getStorageId(), sender.c_str());
        return false;
    }
    return true;
}

void VantrelKnownServers::add(const VantrelDaemonInfo& record, const std::string& sender) {
    Listed listed{record, sender, ++arrivals_};
    if (record.getStorageId()[0] != '\0')
        byStorageId_.emplace(record.getStorageId(), std::move(listed));
    else
        withoutStorageId_.push_back(std::move(listed));
    ++addedBySender_[sender];
}

void VantrelKnownServers::forget(const Listed& listed) {
    const auto added = addedBySender_.find(listed.sender);
    if (added != addedBySender_.end() && --added->second == 0) addedBySender_.erase(added);
    fullPosted_ = false;
}

size_t VantrelKnownServers::removeIf(const std::function<bool(const VantrelDaemonInfo&)>& drop) {
    size_t removed = 0;
    for (auto it = byStorageId_.begin(); it != byStorageId_.end();) {
        if (!drop(it->second.record)) {
            ++it;
            continue;
        }
        forget(it->second);
        it = byStorageId_.erase(it);
        ++removed;
    }
    for (auto it = withoutStorageId_.begin(); it != withoutStorageId_.end();) {
        if (!drop(it->record)) {
            ++it;
            continue;
        }
        forget(*it);
        it = withoutStorageId_.erase(it);
        ++removed;
    }
    return removed;
}

std::vector<const VantrelKnownServers::Listed*> VantrelKnownServers::ordered() const {
    std::vector<const Listed*> all;
    all.reserve(byStorageId_.size() + withoutStorageId_.size());
    for (const auto& entry : byStorageId_) all.push_back(&entry.second);
    for (const Listed& listed : withoutStorageId_) all.push_back(&listed);
    std::sort(all.begin(), all.end(), [](const Listed* a, const Listed* b) {
        if (a->record < b->record) return true;
        if (b->record < a->record) return false;
        return a->arrival < b->arrival;
    });
    return all;
}

bool VantrelKnownServers::removeNamedBy(const VantrelDaemonInfo& record, const char* sender) {
    const VantrelServerId id = VantrelServerInfo(record).getId();
    Vantrel::CoMutexGuard guard(lock_);
    const Listed* named = nullptr;
    if (id.getStorageId()[0] != '\0') {
        const auto found = byStorageId_.find(id.getStorageId());
        if (found != byStorageId_.end()) named = &found->second;
    } else {
        for (const Listed* listed : ordered())
            if (listed->record.isSameServer(id)) {
                named = listed;
                break;
            }
    }
    if (named == nullptr || !speaksFor(named->record, sender)) return false;
    if (debugLevel() >= 1) CO_MSG_USER("Vantrel Multicast: Removing '%s'", id.getId());
    removeIf([named](const VantrelDaemonInfo& listed) { return &listed == &named->record; });
    return true;
}

bool VantrelKnownServers::removeSame(const VantrelDaemonInfo& record) {
    Vantrel::CoMutexGuard guard(lock_);
    return removeIf([&](const VantrelDaemonInfo& listed) { return listed.isSameServer(record); }) >
           0;
}

bool VantrelKnownServers::touch(const VantrelDaemonInfo& record, uint64_t now) {
    Vantrel::CoMutexGuard guard(lock_);
    Listed* listed = findSame(record);
    if (listed == nullptr) return false;
    listed->record.setLastSeen(now);
    return true;
}

size_t VantrelKnownServers::discardInactive(uint64_t now, uint64_t resyncMicros) {
    const uint64_t cutoff = now > 2 * resyncMicros ? now - 2 * resyncMicros : 0;
    if (debugLevel() >= 2)
        CO_MSG_USER("Vantrel Multicast: discarding servers inactive since %llu",
                    static_cast<unsigned long long>(cutoff));
    Vantrel::CoMutexGuard guard(lock_);
    return removeIf([&](const VantrelDaemonInfo& listed) {
        if (listed.getLastSeen() >= cutoff) return false;
        if (debugLevel() >= 1)
            CO_MSG_USER("Vantrel Multicast: discarding '%s'", listed.getStorageId());
        return true;
    });
}

bool VantrelKnownServers::resolve(const VantrelServerId& id, VantrelDaemonInfo& out) const {
    Vantrel::CoMutexGuard guard(lock_);
    if (id.getStorageId()[0] != '\0') {
        const auto found = byStorageId_.find(id.getStorageId());
        if (found == byStorageId_.end()) return false;
        out = found->second.record;
        return true;
    }
    for (const Listed* listed : ordered()) {
        if (!listed->record.isSameServer(id)) continue;
        out = listed->record;
        return true;
    }
    return false;
}

std::vector<VantrelDaemonInfo> VantrelKnownServers::copy(const char* database) const {
    Vantrel::CoMutexGuard guard(lock_);
    std::vector<VantrelDaemonInfo> matching;
    for (const Listed* listed : ordered())
        if (database == nullptr || std::string(listed->record.getDatabase()) == database)
            matching.push_back(listed->record);
    return matching;
}

size_t VantrelKnownServers::size() const {
    Vantrel::CoMutexGuard guard(lock_);
    return byStorageId_.size() + withoutStorageId_.size();
}

void VantrelKnownServers::clear() {
    Vantrel::CoMutexGuard guard(lock_);
    byStorageId_.clear();
    withoutStorageId_.clear();
    addedBySender_.clear();
    fullPosted_ = false;
}
