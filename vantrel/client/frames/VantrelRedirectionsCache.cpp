#include "vantrel/client/frames/VantrelRedirectionsCache.h"

#include <cstdlib>

#include "osal/CoTime.h"
#include "vantrel/client/frames/VantrelFrameConnection.h"
#include "vantrel/protocol/FrameWire.h"

namespace {

int sizeFromEnvironment() {
    const char* value = std::getenv("ZR_VANTREL_REDIRECTION_CACHE_SIZE");
    return value != nullptr ? std::atoi(value) : VantrelRedirectionsCache::DEFAULT_SIZE;
}

}  // namespace

// A redirect target: its own copy of the record it was first named by, and its connection.
// The copy never changes, so the connection always reaches the same server.
class VantrelRedirectionsCache::Target : public VantrelDaemonInfoMgr {
public:
    explicit Target(const VantrelDaemonInfo& record) : record_(record), connection_(this) {}
    const VantrelDaemonInfo* getDaemonInfo() override { return &record_; }
    // Nothing to fetch again: the record is what the primary sent.
    void invalidateDaemonInfo() override {}
    const char* lastError() const override { return ""; }
    VantrelFrameConnection& connection() { return connection_; }

private:
    const VantrelDaemonInfo record_;
    VantrelFrameConnection connection_;
};

VantrelRedirectionsCache::VantrelRedirectionsCache(std::function<uint64_t()> clock)
    : VantrelRedirectionsCache(sizeFromEnvironment(), std::move(clock)) {}

VantrelRedirectionsCache::VantrelRedirectionsCache(int size, std::function<uint64_t()> clock)
    : entries_(size > 0 ? static_cast<size_t>(size) : 0),
      clock_(clock ? std::move(clock) : std::function<uint64_t()>(&Vantrel::CoTime::getTime)) {}

VantrelRedirectionsCache::~VantrelRedirectionsCache() = default;

std::string VantrelRedirectionsCache::targetKey(const VantrelDaemonInfo& record) {
    const int port = record.getFramePort() != 0 ? record.getFramePort()
                                                : VantrelFrameWire::DEFAULT_FRAME_PORT;
    std::string key = std::to_string(port);
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS && *record.getFrameIPAddr(i) != '\0'; ++i) {
        key += ' ';
        key += record.getFrameIPAddr(i);
    }
    return key;
}

VantrelFrameConnection* VantrelRedirectionsCache::connectionFor(const std::string& frameId) {
    for (Entry& entry : entries_) {
        if (!entry.used || entry.key != frameId) continue;
        entry.lastUse = clock_();
        std::lock_guard<std::mutex> hold(connectionsLock_);
        std::unique_ptr<Target>& target = targets_[targetKey(entry.record)];
        if (!target) target.reset(new Target(entry.record));
        return &target->connection();
    }
    return nullptr;
}

size_t VantrelRedirectionsCache::slotFor(const std::string& frameId) const {
    size_t oldest = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].used && entries_[i].key == frameId) return i;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!entries_[i].used) return i;
        if (entries_[i].lastUse < entries_[oldest].lastUse) oldest = i;
    }
    return oldest;
}

void VantrelRedirectionsCache::store(const std::string& frameId, const VantrelDaemonInfo& record) {
    if (entries_.empty()) return;
    Entry& entry = entries_[slotFor(frameId)];
    entry.used = true;
    entry.key = frameId;
    entry.record = record;
    entry.lastUse = clock_();
    closeUnusedConnections();
}

void VantrelRedirectionsCache::forget(const VantrelFrameConnection* connection) {
    std::string key;
    {
        std::lock_guard<std::mutex> hold(connectionsLock_);
        for (const auto& target : targets_)
            if (&target.second->connection() == connection) key = target.first;
    }
    if (key.empty()) return;
    for (Entry& entry : entries_)
        if (entry.used && targetKey(entry.record) == key) entry = Entry();
    closeUnusedConnections();
}

void VantrelRedirectionsCache::closeUnusedConnections() {
    std::lock_guard<std::mutex> hold(connectionsLock_);
    for (auto target = targets_.begin(); target != targets_.end();) {
        bool named = false;
        for (const Entry& entry : entries_)
            named = named || (entry.used && targetKey(entry.record) == target->first);
        target = named ? std::next(target) : targets_.erase(target);
    }
}

void VantrelRedirectionsCache::stopAll() {
    std::lock_guard<std::mutex> hold(connectionsLock_);
    for (auto& target : targets_) target.second->connection().stop();
}

size_t VantrelRedirectionsCache::connectionCount() {
    std::lock_guard<std::mutex> hold(connectionsLock_);
    return targets_.size();
}
