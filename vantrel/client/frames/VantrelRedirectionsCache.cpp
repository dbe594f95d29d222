#include "vantrel/client/frames/VantrelRedirectionsCache.h"

#include <cstdlib>

#include "osal/CoTime.h"
#include "vantrel/client/frames/VantrelFrameConnection.h"

namespace {

int sizeFromEnvironment() {
    const char* value = std::getenv("ZR_VANTREL_REDIRECTION_CACHE_SIZE");
    return value != nullptr ? std::atoi(value) : VantrelRedirectionsCache::DEFAULT_SIZE;
}

}  // namespace

VantrelRedirectionsCache::VantrelRedirectionsCache(std::function<uint64_t()> clock)
    : VantrelRedirectionsCache(sizeFromEnvironment(), std::move(clock)) {}

VantrelRedirectionsCache::VantrelRedirectionsCache(int size, std::function<uint64_t()> clock)
    : entries_(size > 0 ? static_cast<size_t>(size) : 0),
      clock_(clock ? std::move(clock) : std::function<uint64_t()>(&Vantrel::CoTime::getTime)) {}

VantrelRedirectionsCache::~VantrelRedirectionsCache() = default;

VantrelFrameConnection* VantrelRedirectionsCache::connectionFor(const std::string& frameId) {
    for (Entry& entry : entries_) {
        if (!entry.used || entry.key != frameId) continue;
        entry.lastUse = clock_();
        std::lock_guard<std::mutex> hold(connectionsLock_);
        std::unique_ptr<VantrelFrameConnection>& connection =
            connectionsByPort_[entry.record.getFramePort()];
        if (!connection) connection.reset(new VantrelFrameConnection(&entry));
        return connection.get();
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
}

void VantrelRedirectionsCache::stopAll() {
    std::lock_guard<std::mutex> hold(connectionsLock_);
    for (auto& connection : connectionsByPort_) connection.second->stop();
}
