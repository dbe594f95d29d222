#include "vantrel/client/VantrelClientConnection.h"

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
#include "loggerBase/CoException.h"
#include "loggerBase/CoMsg.h"
#include "network/CoNetworkUtil.h"
#include "osal/CoEnvSettings.h"
#include "rcApi/rcAttrStream.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/VantrelCallTimeout.h"
#include "vantrel/client/VantrelDiscoveryHooks.h"

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
        : CoCache(capacity, idleSeconds * MICROSECONDS_PER_SECOND, true), capacity_(capacity) {}

    CoCache::Entry* createEntry(const CoCache::Key& key) override {
        return new Entry(static_cast<const Key&>(key).id());
    }

    int capacity() const { return capacity_; }

private:
    const int capacity_;
};

// Exists between the first VantrelClientInit and the last VantrelClientUninit, which run
// before and after every other use of the library.
Connections* connections = nullptr;

}  // namespace

// The shared handle.

class VantrelClientConnection::Shared::Imp : public CoCache::EntryLockGuard {
public:
    Imp(CoCache& cache, CoCache::Entry* entry) : EntryLockGuard(cache, entry) {}
    VantrelClientConnection* connection() const {
        return &static_cast<Connections::Entry*>(getEntry())->connection();
    }
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
        connections->getCacheEntry(Connections::Key(id), true, true, true, 0);
    if (entry == nullptr) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "No free shared connection slot: all %d are in use (see "
                      "VANTREL_SHARED_CONNECTIONS).",
                      connections->capacity());
        throw CoException(text, __LINE__, __FILE__);
    }
    imp_.reset(new Imp(*connections, entry));
}

void VantrelClientConnection::Shared::release() { imp_.reset(); }

VantrelClientConnection* VantrelClientConnection::Shared::get() const {
    return imp_ ? imp_->connection() : nullptr;
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
    daemonInfo_.setDatabase(serverId_.getDB());
    daemonInfo_.setIPAddr(0, serverId_.getIPAddr());
    daemonInfo_.setStorageId(serverId_.getStorageId());
    daemonInfo_.setNodePort(serverId_.getPort());
}

VantrelClientConnection::~VantrelClientConnection() = default;

void VantrelClientConnection::call(const char* method, const std::string& args, bool synchronous,
                                   std::string& reply, uint32_t timeoutMs) {
    timeoutMs = VantrelCallTimeout::bound(timeoutMs);
    if (ensureConnected(timeoutMs)) notifyConnected();
    std::unique_lock<CoMutex> lock(callLock_);
    invoke(method, args, synchronous, reply, timeoutMs, lock);
}

const VantrelDaemonInfo& VantrelClientConnection::daemonInfo(bool noRefresh) {
    if (noRefresh || !isDaemonInfoStale()) return daemonInfo_;
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
    return daemonInfo_;
}

bool VantrelClientConnection::isConnected() {
    CoMutexGuard guard(callLock_);
    return rcApi_.isConnected();
}

void VantrelClientConnection::stop(const char* msg) { rcApi_.stop(msg); }

void VantrelClientConnection::forcedDisconnect() {
    rcApi_.stop(nullptr);
    CoMutexGuard guard(callLock_);
    CO_MSG_DEBUG("Forced disconnect");
    rcApi_.disconnect();
    linkOpen_ = false;  // closed on purpose: not a lost link
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
    CoMutexGuard guard(infoLock_);
    return daemonInfo_.isSameServer(id);
}

// Calling.

bool VantrelClientConnection::ensureConnected(uint32_t timeoutMs) {
    std::unique_lock<CoMutex> lock(callLock_);
    if (rcApi_.isConnected()) return false;
    if (linkOpen_) {
        // The link that the last call left open was closed by the server or the network
        // since: the application hears of it once, before the link is made again.
        linkOpen_ = false;
        lock.unlock();
        notifyDisconnected();
        lock.lock();
        if (rcApi_.isConnected()) return false;
    }
    connect(timeoutMs);
    linkOpen_ = rcApi_.isConnected();
    return linkOpen_;
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
    const bool closed = !rcApi_.isConnected();
    if (closed) linkOpen_ = false;
    const std::string text = reply;
    lock.unlock();
    if (closed) notifyDisconnected();
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
    // Handles read the record without a lock; an unchanged record is therefore not rewritten.
    if (info == daemonInfo_) return;
    CoMutexGuard guard(infoLock_);
    daemonInfo_ = info;
}

// Connecting.

void VantrelClientConnection::connect(uint32_t timeoutMs) {
    daemonInfoStale_ = true;
    VantrelServerId lookup(daemonInfo_.getDatabase(), daemonInfo_.getIPAddr(0),
                           daemonInfo_.getNodePort());
    lookup.setStorageId(daemonInfo_.getStorageId());
    VantrelDaemonInfo resolved;
    if (VantrelDiscoveryHooks::resolve(lookup, resolved)) {
        storeDaemonInfo(resolved);
        if (connectToRecordAddresses(timeoutMs)) return;
    }
    connectDirectly(timeoutMs);
}

bool VantrelClientConnection::connectToRecordAddresses(uint32_t timeoutMs) {
    const char* name = daemonInfo_.getDisplayName();
    const char* storageId = daemonInfo_.getStorageId();
    const unsigned port = static_cast<unsigned>(daemonInfo_.getNodePort());
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i) {
        const char* address = daemonInfo_.getIPAddr(i);
        if (address[0] == '\0') break;
        CO_MSG_DEBUG("Connecting to server '%s' / '%s' using '%s:%u'", name, storageId, address,
                     port);
        if (rcApi_.connect(address, static_cast<int>(port), timeoutMs)) {
            CO_MSG_DEBUG("Connected to server '%s' / '%s' using '%s:%u'", name, storageId,
                         address, port);
            VantrelDiscoveryHooks::serverAnswered(daemonInfo_);
            return true;
        }
        const std::string error = rcApi_.lastError();
        CO_MSG_DEBUG("Could not connect to server '%s' / '%s' using '%s:%u': %s", name,
                     storageId, address, port, error.c_str());
        if (rcApi_.stopped() || rcApi_.timedOut())
            throw CoException(error.c_str(), __LINE__, __FILE__);
    }
    VantrelDiscoveryHooks::dropServer(daemonInfo_);
    VantrelDiscoveryHooks::searchStorageId(daemonInfo_.getStorageId());
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
    VantrelDiscoveryHooks::serverAnswered(daemonInfo_);
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
    connections = new Connections(std::max(1, settings.capacity), settings.idleSeconds);

}

void VantrelClientConnection::destroyCache() {
    delete connections;
    connections = nullptr;
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
