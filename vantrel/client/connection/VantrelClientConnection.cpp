#include "vantrel/client/connection/VantrelClientConnection.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <utility>

#include "ipc/CoCache.h"
#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "network/CoNetworkUtil.h"
#include "osal/CoEnvSettings.h"
#include "rcApi/rcAttrStream.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelCallTimeout.h"
#include "vantrel/client/connection/VantrelDiscoveryHooks.h"

using Vantrel::CoCache;
using Vantrel::CoException;
using Vantrel::CoMutex;
using Vantrel::CoMutexGuard;

namespace {

const char DAEMON_INFO_METHOD[] = "GetDaemonInfo";
const char DAEMON_INFO_ARGS[] = "\"\"";
const char DEFAULT_DATABASE[] = "QLXFS";
constexpr int DEFAULT_CACHE_CAPACITY = 16;
constexpr long long DEFAULT_IDLE_SECONDS = 30;
constexpr long long MICROSECONDS_PER_SECOND = 1000000;

// Read when the library is loaded; the registry lets a program (or a test) change it before
// the cache is created.
Vantrel::CoEnvStringSetting& sharedConnectionsSetting() {
    static Vantrel::CoEnvStringSetting setting("VANTREL_SHARED_CONNECTIONS", "");
    return setting;
}
[[maybe_unused]] const bool settingReadAtLoad = (sharedConnectionsSetting(), true);

bool traceCalls() {
    static const Vantrel::CoEnvBoolSetting trace("ZR_VANTREL_TRACE", false);
    return trace.value();
}

std::atomic<void (*)(const VantrelServerId&)> disconnectCallback{nullptr};

// The shared-connection cache.
class Connections : public CoCache {
public:
    class Key : public CoCache::Key {
    public:
        explicit Key(const VantrelServerId& id) : id_(id) {}
        const VantrelServerId& id() const { return id_; }

    private:
        VantrelServerId id_;
    };

    // Matches nothing: a lookup with it only makes the cache drop its idle entries.
    class CleanKey : public CoCache::Key {};

    class Entry : public CoCache::SharedEntry {
    public:
        explicit Entry(const VantrelServerId& id) : idText_(id.getId()), connection_(id) {
            CO_MSG_DEBUG("Creating shared connection '%p' to '%s'", static_cast<void*>(this),
                         idText_.c_str());
        }
        ~Entry() override {
            CO_MSG_DEBUG("Releasing shared connection '%p' to '%s'", static_cast<void*>(this),
                         idText_.c_str());
        }

        bool matches(const CoCache::Key& key) const override {
            const Key* serverKey = dynamic_cast<const Key*>(&key);
            if (serverKey == nullptr) return false;
            // A failing host-name lookup must not fail the whole cache search.
            try {
                return connection_.servesServer(serverKey->id());
            } catch (const std::exception& e) {
                CO_MSG_DEBUG("%s", e.what());
                return false;
            }
        }

        VantrelClientConnection& connection() { return connection_; }

    protected:
        void incref() override {
            SharedEntry::incref();
            CO_MSG_DEBUG("Referencing shared connection '%p' to '%s' (%d)",
                         static_cast<void*>(this), idText_.c_str(), getRefCount());
        }
        void decref() override {
            CO_MSG_DEBUG("Unreferencing shared connection '%p' to '%s' (%d)",
                         static_cast<void*>(this), idText_.c_str(), getRefCount() - 1);
            SharedEntry::decref();
        }

    private:
        const std::string idText_;
        VantrelClientConnection connection_;
    };

    Connections(int capacity, long long idleSeconds)
        : CoCache(capacity, idleSeconds * MICROSECONDS_PER_SECOND, true, true),
          capacity_(capacity) {}

    CoCache::Entry* createEntry(const CoCache::Key& key) override {
        return new Entry(static_cast<const Key&>(key).id());
    }

    int capacity() const { return capacity_; }

private:
    const int capacity_;
};

// An id that names an address but no port (nor a storage id) names the server that discovery
// finds at that address with that database: it is resolved before the cache is searched, so
// that every process connects to the same server whatever links it holds; several servers
// that match are refused by name rather than one of them picked, and none is refused too.
VantrelServerId serverNamedBy(const VantrelServerId& id) {
    if (id.getIPAddr()[0] == '\0' || id.getPort() != 0 || id.getStorageId()[0] != '\0') return id;
    VantrelServerId asked(id.getDB()[0] != '\0' ? id.getDB() : DEFAULT_DATABASE, id.getIPAddr(), 0);
    const std::vector<VantrelDaemonInfo> found = VantrelDiscoveryHooks::installed().serversAt(asked);
    // Not even a link this process holds to a server at that address stands in for it.
    if (found.empty())
        throw CoException((std::string("Server not found: no server of database '") +
                           asked.getDB() + "' at " + asked.getIPAddr() + " answered discovery")
                              .c_str(),
                          __LINE__, __FILE__);
    if (found.size() > 1) {
        std::string text = std::string("Several servers match '") + asked.getId() + "':";
        for (size_t i = 0; i < found.size(); ++i)
            text += std::string(i == 0 ? " " : ", ") + "'" + found[i].getDisplayName() + "' at " +
                    found[i].getIPAddr(0) + ":" + std::to_string(found[i].getNodePort());
        throw CoException((text + "; name one as ADDRESS:PORT").c_str(), __LINE__, __FILE__);
    }
    VantrelServerId server(found.front().getDatabase(), found.front().getIPAddr(0),
                           found.front().getNodePort());
    server.setStorageId(found.front().getStorageId());
    return server;
}

// Exists between the first VantrelClientInit and the last VantrelClientUninit, which run
// before and after every other use of the library. Handles share the ownership, so that a
// handle that outlives the library (or its init) can still release its entry; such a handle
// is no longer live (Shared::isLive) and the cache goes with the last of them.
std::shared_ptr<Connections> connections;

// The cache a shared handle was taken from, kept alive by it.
struct CacheOwner {
    std::shared_ptr<Connections> cache;
};

}  // namespace

// The shared handle.

// The entry guard is destroyed before the owner of the cache (bases go in reverse order), so
// the entry is released into a cache that still exists.
class VantrelClientConnection::Shared::Imp : private CacheOwner, public CoCache::EntryLockGuard {
public:
    Imp(const std::shared_ptr<Connections>& owner, CoCache::Entry* entry)
        : CacheOwner{owner}, EntryLockGuard(*owner, entry) {}
    VantrelClientConnection* connection() const {
        return &static_cast<Connections::Entry*>(getEntry())->connection();
    }
    bool isFrom(const std::shared_ptr<Connections>& current) const { return cache == current; }
};

VantrelClientConnection::Shared::Shared() = default;
VantrelClientConnection::Shared::Shared(Shared&& other) noexcept = default;
VantrelClientConnection::Shared& VantrelClientConnection::Shared::operator=(
    Shared&& other) noexcept = default;
VantrelClientConnection::Shared::~Shared() = default;

void VantrelClientConnection::Shared::acquire(const VantrelServerId& id) {
    release();
    if (connections == nullptr)
        throw CoException("Vantrel client library not initialised.", __LINE__, __FILE__);
    CoCache::Entry* entry =
        connections->getCacheEntry(Connections::Key(serverNamedBy(id)), true, true, true, 0);
    if (entry == nullptr) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "No free shared connection slot: all %d are in use (see "
                      "VANTREL_SHARED_CONNECTIONS).",
                      connections->capacity());
        throw CoException(text, __LINE__, __FILE__);
    }
    imp_.reset(new Imp(connections, entry));
}

void VantrelClientConnection::Shared::release() { imp_.reset(); }

VantrelClientConnection* VantrelClientConnection::Shared::get() const {
    return imp_ ? imp_->connection() : nullptr;
}

bool VantrelClientConnection::Shared::isLive() const {
    return imp_ && connections && imp_->isFrom(connections);
}

// The connection.

VantrelClientConnection::ConnectCallback::~ConnectCallback() = default;

VantrelClientConnection::VantrelClientConnection(const VantrelServerId& id)
    : serverId_(id), daemonInfoStale_(true) {
    if (serverId_.getStorageId()[0] == '\0') {
        if (serverId_.getDB()[0] == '\0' && serverId_.getPort() == 0)
            serverId_.setDB(DEFAULT_DATABASE);
        const char* address = serverId_.getIPAddr();
        std::string numeric;
        if (std::isalpha(static_cast<unsigned char>(address[0])) &&
            Vantrel::CoIoTcpDescriptor::getIpAddrFromHostName(address, numeric))
            serverId_.setIPAddr(numeric.c_str());
    }
    VantrelDaemonInfo seed;
    seed.setDatabase(serverId_.getDB());
    seed.setIPAddr(0, serverId_.getIPAddr());
    seed.setStorageId(serverId_.getStorageId());
    seed.setNodePort(serverId_.getPort());
    daemonInfo_ = std::make_shared<const VantrelDaemonInfo>(seed);
}

VantrelClientConnection::~VantrelClientConnection() = default;

void VantrelClientConnection::call(const char* method, const std::string& args, bool synchronous,
                                   std::string& reply, uint32_t timeoutMs) {
    timeoutMs = VantrelCallTimeout::bound(timeoutMs);
    if (ensureConnected(timeoutMs)) notifyConnected();
    std::unique_lock<CoMutex> lock(callLock_);
    invoke(method, args, synchronous, reply, timeoutMs, lock);
}

VantrelClientConnection::DaemonInfoSnapshot VantrelClientConnection::daemonInfo(
    bool noRefresh) {
    if (noRefresh || !isDaemonInfoStale()) return infoSnapshot();
    const uint32_t timeoutMs = VantrelCallTimeout::bound(LONG_TIMEOUT_MS);
    if (ensureConnected(timeoutMs)) notifyConnected();
    std::unique_lock<CoMutex> lock(callLock_);
    // Under the lock of the call that fetches it, so that a reconnection on another thread
    // cannot slip between the fetch and the clearing of the stale mark.
    if (daemonInfoStale_) {
        std::string reply;
        invoke(DAEMON_INFO_METHOD, DAEMON_INFO_ARGS, true, reply, timeoutMs, lock);
        storeDaemonInfo(VantrelDaemonInfo(Vantrel::rcAttrStream(reply)));
        daemonInfoStale_ = false;
    }
    return infoSnapshot();
}

VantrelClientConnection::DaemonInfoSnapshot VantrelClientConnection::infoSnapshot() const {
    CoMutexGuard guard(infoLock_);
    return daemonInfo_;
}

bool VantrelClientConnection::isConnected() {
    CoMutexGuard guard(callLock_);
    return rcApi_.isConnected();
}

void VantrelClientConnection::stop(const char* msg) { rcApi_.stop(msg); }

void VantrelClientConnection::forcedDisconnect() {
    ++forcedDisconnects_;  // the call it stops has not lost its link
    rcApi_.stop(nullptr);
    {
        CoMutexGuard guard(callLock_);
        CO_MSG_DEBUG("Forced disconnect");
        rcApi_.disconnect();
        linkOpen_ = false;  // closed on purpose: not a lost link
    }
    --forcedDisconnects_;
}

void VantrelClientConnection::addConnectCallback(ConnectCallback* callback) {
    CoMutexGuard guard(callbacksLock_);
    callbacks_.push_back(callback);
}

void VantrelClientConnection::removeConnectCallback(ConnectCallback* callback) {
    CoMutexGuard guard(callbacksLock_);
    const auto found = std::find(callbacks_.begin(), callbacks_.end(), callback);
    if (found != callbacks_.end()) callbacks_.erase(found);
}

bool VantrelClientConnection::servesServer(const VantrelServerId& id) const {
    return infoSnapshot()->isSameServer(id);
}

// Calling.

bool VantrelClientConnection::ensureConnected(uint32_t timeoutMs) {
    std::unique_lock<CoMutex> lock(callLock_);
    if (rcApi_.isConnected()) return false;
    try {
        connect(timeoutMs);
    } catch (const CoException&) {
        // The link the last call left open was closed since, and this call cannot open it
        // again: the call fails and leaves it closed.
        const bool lost = takeLoss();
        lock.unlock();
        if (lost) notifyDisconnected();
        throw;
    }
    // A link closed since the last call and opened again by this one was not lost to anyone.
    linkOpen_ = rcApi_.isConnected();
    return linkOpen_;
}

bool VantrelClientConnection::takeLoss() {
    const bool lost = linkOpen_ && forcedDisconnects_ == 0;
    linkOpen_ = false;
    return lost;
}

void VantrelClientConnection::invoke(const char* method, const std::string& args,
                                     bool synchronous, std::string& reply, uint32_t timeoutMs,
                                     std::unique_lock<CoMutex>& lock) {
    const bool trace = traceCalls();
    if (trace) CO_MSG_DEBUG("Calling %s(%s)", method, args.c_str());
    const bool ok = rcApi_.call(0, method, args.c_str(), synchronous, reply, timeoutMs);
    if (trace) CO_MSG_DEBUG("Finished %s() -> '%s'", method, reply.c_str());
    if (ok) return;

    // A late reply would answer the next call: a link that timed out cannot be used again.
    if (rcApi_.timedOut()) rcApi_.disconnect();
    // Calls that queued behind the one that lost the link find it closed already (linkOpen_
    // false) and tell nothing more.
    const bool lost = !rcApi_.isConnected() && takeLoss();
    const std::string text = reply;
    lock.unlock();
    if (lost) notifyDisconnected();
    throw CoException(text.c_str(), __LINE__, __FILE__);
}

void VantrelClientConnection::notifyConnected() {
    CoMutexGuard guard(callbacksLock_);
    for (ConnectCallback* callback : callbacks_) {
        if (!isConnected()) break;
        callback->connected();
    }
}

void VantrelClientConnection::notifyDisconnected() {
    void (*callback)(const VantrelServerId&) = disconnectCallback.load();
    if (callback != nullptr) callback(serverId_);
}

bool VantrelClientConnection::isDaemonInfoStale() {
    CoMutexGuard guard(callLock_);
    return daemonInfoStale_;
}

void VantrelClientConnection::storeDaemonInfo(const VantrelDaemonInfo& info) {
    // Readers keep the snapshot they were given; a new record is a new snapshot.
    DaemonInfoSnapshot fresh = std::make_shared<const VantrelDaemonInfo>(info);
    CoMutexGuard guard(infoLock_);
    if (*daemonInfo_ == info) return;
    daemonInfo_ = std::move(fresh);
}

// Connecting.

void VantrelClientConnection::connect(uint32_t timeoutMs) {
    daemonInfoStale_ = true;
    const DaemonInfoSnapshot known = infoSnapshot();
    VantrelServerId lookup(known->getDatabase(), known->getIPAddr(0), known->getNodePort());
    lookup.setStorageId(known->getStorageId());
    VantrelDaemonInfo resolved;
    if (VantrelDiscoveryHooks::installed().resolve(lookup, resolved)) {
        storeDaemonInfo(resolved);
        if (connectToRecordAddresses(timeoutMs)) return;
    }
    connectDirectly(timeoutMs);
}

bool VantrelClientConnection::connectToRecordAddresses(uint32_t timeoutMs) {
    const DaemonInfoSnapshot record = infoSnapshot();
    const char* name = record->getDisplayName();
    const char* storageId = record->getStorageId();
    const unsigned port = static_cast<unsigned>(record->getNodePort());
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i) {
        const char* address = record->getIPAddr(i);
        if (address[0] == '\0') break;
        CO_MSG_DEBUG("Connecting to server '%s' / '%s' using '%s:%u'", name, storageId, address,
                     port);
        if (rcApi_.connect(address, static_cast<int>(port), timeoutMs)) {
            CO_MSG_DEBUG("Connected to server '%s' / '%s' using '%s:%u'", name, storageId,
                         address, port);
            VantrelDiscoveryHooks::installed().serverAnswered(*record);
            return true;
        }
        const std::string error = rcApi_.lastError();
        CO_MSG_DEBUG("Could not connect to server '%s' / '%s' using '%s:%u': %s", name,
                     storageId, address, port, error.c_str());
        if (rcApi_.stopped() || rcApi_.timedOut())
            throw CoException(error.c_str(), __LINE__, __FILE__);
    }
    VantrelDiscoveryHooks::installed().dropServer(*record);
    VantrelDiscoveryHooks::installed().searchStorageId(record->getStorageId());
    return false;
}

void VantrelClientConnection::connectDirectly(uint32_t timeoutMs) {
    const char* address = serverId_.getIPAddr();
    const unsigned port = static_cast<unsigned>(serverId_.getPort());
    const char* database = serverId_.getDB();
    const char* storageId = serverId_.getStorageId();
    CO_MSG_DEBUG("Connecting to server [%s:%u] [%s] [%s]", address, port, database, storageId);
    if (address[0] == '\0' || port == 0) {
        throw CoException(Vantrel::CoNetworkUtil::strerror(ECONNREFUSED).c_str(), __LINE__,
                          __FILE__);
    }
    if (!rcApi_.connect(address, static_cast<int>(port), timeoutMs)) {
        const std::string error = rcApi_.lastError();
        CO_MSG_DEBUG("Could not connect to server [%s:%u] [%s] [%s]: %s", address, port,
                     database, storageId, error.c_str());
        throw CoException(error.c_str(), __LINE__, __FILE__);
    }
    CO_MSG_DEBUG("Connected to server [%s:%u] [%s] [%s]", address, port, database, storageId);
    VantrelDiscoveryHooks::installed().serverAnswered(*infoSnapshot());
}

// Process-wide parts.

VantrelClientConnection::CacheSettings VantrelClientConnection::cacheSettings(const char* value) {
    if (value == nullptr || value[0] == '\0')
        return CacheSettings{DEFAULT_CACHE_CAPACITY, DEFAULT_IDLE_SECONDS};
    const int number = std::atoi(value);
    return CacheSettings{number, number};
}

void VantrelClientConnection::createCache() {
    if (connections != nullptr) return;
    const CacheSettings settings = cacheSettings(sharedConnectionsSetting().value().c_str());
    connections =
        std::make_shared<Connections>(std::max(1, settings.capacity), settings.idleSeconds);
}

void VantrelClientConnection::destroyCache() {
    if (connections == nullptr) return;
    connections->resetCache(true);
    // Entries that handles still hold go with their handles; their links close now.
    {
        CoCache::Iterator held(*connections);
        while (CoCache::Entry* entry = held.next())
            static_cast<Connections::Entry*>(entry)->connection().forcedDisconnect();
    }
    connections.reset();
}

void VantrelClientConnection::releaseUnused(bool all) {
    if (connections == nullptr) return;
    if (all) {
        connections->resetCache(true);
        return;
    }
    // Matches nothing; the search drops every entry idle for the idle time on its way.
    CoCache::Entry* none =
        connections->getCacheEntry(Connections::CleanKey(), false, false, false, 0);
    connections->releaseCacheEntry(none);
}

int VantrelClientConnection::cachedConnectionCount() {
    if (connections == nullptr) return 0;
    int count = 0;
    CoCache::Iterator entries(*connections);
    while (entries.next() != nullptr) ++count;
    return count;
}

void VantrelClientConnection::setDisconnectCallback(void (*callback)(const VantrelServerId&)) {
    disconnectCallback.store(callback);
}
