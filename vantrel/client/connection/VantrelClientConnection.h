// VantrelClientConnection: the one remote-call link of this process to one server's node port,
// shared by every server handle that names the server, and the process-wide cache that shares
// it.
//
// The link opens lazily: the first call() connects (first through the addresses discovery
// resolves the server id to, then directly to the id's address and port), logs in and tells
// the registered ConnectCallbacks. A call that times out closes the link; so do the server,
// the network and forcedDisconnect(). The next call reconnects; no call is retried.
//
// The server's description (daemonInfo()) is seeded from the server id and fetched with
// "GetDaemonInfo" on first request after each (re)connection. It is handed out as a shared,
// unchangeable snapshot: a refresh replaces the connection's snapshot, never one a reader holds.
//
// Sharing: VantrelClientConnection::Shared takes a connection from the process-wide cache,
// which exists between the first VantrelClientInit() and the last VantrelClientUninit(). The
// cache has VANTREL_SHARED_CONNECTIONS slots (16 when unset) and drops a connection that no
// handle has used for VANTREL_SHARED_CONNECTIONS seconds (30 when unset; counted from the
// release by its last handle) at its next scan. A Shared taken before the last uninit stays
// safe to release and destroy afterwards (its link is closed at the uninit), but is no longer
// live: its holder must take a new one. Two
// ids name the same connection when the connection's description recognises the asked id as
// its server (VantrelDaemonInfo::isSameServer), so a server named by host name and by numeric
// address shares one link. Debug messages trace every creation, reference and release.
// VANTREL_SHARED_CONNECTIONS is read when the library is loaded (an empty value counts as
// unset) and may be changed through the settings registry (CoEnvStringSetting::find) before
// the cache is created. With ZR_VANTREL_TRACE set (to anything but "false", "FALSE" or "0",
// read on first use) every call and its reply are posted at debug level.
//
// Threads: a connection's call lock serialises connecting, each whole request and reply,
// isConnected() and the disconnect of forcedDisconnect(), for every handle of the server.
// stop() takes no lock and is meant for another thread, to cut a waiting call short. Connect
// callbacks run outside the call lock under the callbacks lock, so they may call() themselves.
// A Shared handle is used by one thread at a time; the cache has its own lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"
#include "rcApi/rcAPI.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/VantrelServerId.h"

class VantrelClientConnection {
public:
    // Time limit of the calls made on the library's own behalf ("GetDaemonInfo" and the
    // server-level queries), in milliseconds.
    static constexpr uint32_t LONG_TIMEOUT_MS = 100000000;

    // Told after every successful (re)connection, on the thread of the call that connected,
    // outside the call lock (it may make calls on the same connection).
    class ConnectCallback {
    public:
        virtual ~ConnectCallback();
        virtual void connected() = 0;
    };

    // A reference on one cached connection. While a Shared holds one, the connection stays in
    // the cache and is not recycled for another server. Movable, not copyable; one thread at a
    // time.
    class Shared {
    public:
        class Imp;

        Shared();
        Shared(Shared&& other) noexcept;
        Shared& operator=(Shared&& other) noexcept;
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;
        ~Shared();

        // Drops the reference held before, then references the cached connection of `id`,
        // creating it when no cached connection serves the id (nothing is sent). An id that
        // names an address and no port is resolved through discovery first (see
        // VantrelDiscoveryHooks::serversAt; it may wait a second or two): the connection is
        // that of the one server found there; when several match, CoException names them
        // ("Several servers match 'ID': 'NAME' at ADDRESS:PORT, ..."), and when none does it
        // says so ("Server not found: no server of database 'DB' at ADDRESS answered ..."). Throws
        // CoException when the library is not initialised ("Vantrel client library not
        // initialised.") or when every cache slot is held by some handle ("No free shared
        // connection slot: all N are in use (see VANTREL_SHARED_CONNECTIONS).").
        void acquire(const VantrelServerId& id);
        // Drops the reference, if any.
        void release();

        bool isEmpty() const { return imp_ == nullptr; }
        // Refers to a connection of the library as it is initialised now (not of one that was
        // shut down since). Called by the thread that uses the handle, like init and uninit.
        bool isLive() const;
        // The referenced connection, or null when empty. Valid while this handle refers to it.
        VantrelClientConnection* get() const;

    private:
        std::unique_ptr<Imp> imp_;
    };

    // Normalises a copy of `id`: an id without storage id gets the database "QLXFS" when it
    // has neither database nor port, and a host name in its address is replaced by the
    // numeric address when it resolves. The description is seeded from the normalised id.
    explicit VantrelClientConnection(const VantrelServerId& id);
    ~VantrelClientConnection();
    VantrelClientConnection(const VantrelClientConnection&) = delete;
    VantrelClientConnection& operator=(const VantrelClientConnection&) = delete;

    // One remote call of `method` with the argument text `args` on object 0; connects first
    // when the link is closed (`timeoutMs` bounds each connection attempt and the login as
    // well as the call). The reply value is left in `reply`. Throws CoException on failure:
    // the connection failure's text, or the text the failed call left in `reply` (the
    // server's error text for an "error" reply). A time-out closes the link. `timeoutMs` is
    // first cut to the library's call ceiling (VantrelCallTimeout.h).
    // The registered disconnect callback (VantrelRegisterDisconnectCallBack) is called when a
    // call fails and leaves an open link closed, once for that loss, on the calling thread and
    // without the call lock. That is the call that lost the link, or the first call that finds
    // it closed since (by the server or the network) and cannot open it again; a call that
    // opens it again reports nothing. Calls queued behind the one that lost the link add no
    // report; a link that never opened (a refused connection) or that forcedDisconnect()
    // closed is no loss.
    void call(const char* method, const std::string& args, bool synchronous, std::string& reply,
              uint32_t timeoutMs);

    // An unchangeable copy of the server's description, shared by its readers.
    typedef std::shared_ptr<const VantrelDaemonInfo> DaemonInfoSnapshot;

    // The server's description, never null. When it is stale (never fetched since the last
    // connection attempt) and `noRefresh` is false, it is fetched with "GetDaemonInfo" first,
    // which may connect; a failed fetch throws CoException and leaves the record as it was.
    // Any thread: the snapshot stays valid and unchanged while the caller keeps it, whatever
    // refreshes other handles cause.
    DaemonInfoSnapshot daemonInfo(bool noRefresh = false);

    // The link is open and its peer still there.
    bool isConnected();
    // From any thread: makes the call waiting on this connection fail with `msg` (null: the
    // system's text for an aborted connection) and closes the link.
    void stop(const char* msg);
    // Closes the link for every handle of the server: stops the call in progress, then closes
    // under the call lock. The next call reconnects.
    void forcedDisconnect();

    // The list is not owned; a callback must be removed before it is destroyed.
    void addConnectCallback(ConnectCallback* callback);
    // Removes the first entry equal to `callback`; nothing when absent.
    void removeConnectCallback(ConnectCallback* callback);

    // The normalised server id.
    const VantrelServerId& serverId() const { return serverId_; }

    // Whether this connection's description names the server of `id` (the cache's match).
    // Throws what a host-name resolution throws.
    bool servesServer(const VantrelServerId& id) const;

    // Process-wide parts, used by VantrelClientInit/Uninit and the public free functions.
    // Creates the cache from the current VANTREL_SHARED_CONNECTIONS setting (no-op when it
    // exists) / destroys it with every connection (no handle may be left).
    static void createCache();
    static void destroyCache();
    // See VantrelClientReleaseUnusedConnections; nothing when the cache does not exist.
    static void releaseUnused(bool all);
    // The number of connections in the cache (0 when it does not exist).
    static int cachedConnectionCount();
    // Stored without lock: meant to be set once, before calls are made. Null clears it.
    static void setDisconnectCallback(void (*callback)(const VantrelServerId&));

    // The cache settings a value of VANTREL_SHARED_CONNECTIONS gives (null: unset). Both come
    // from the one number: slots and idle seconds.
    struct CacheSettings {
        int capacity;
        long long idleSeconds;
    };
    static CacheSettings cacheSettings(const char* value);

private:
    // Opens the link when it is closed (telling of a lost link first); true when this call
    // opened it. Throws CoException when it cannot.
    bool ensureConnected(uint32_t timeoutMs) EXCLUDES(callLock_);
    // The remote call itself, with `lock` holding the call lock; on failure releases it and
    // throws.
    void invoke(const char* method, const std::string& args, bool synchronous,
                std::string& reply, uint32_t timeoutMs, std::unique_lock<Vantrel::CoMutex>& lock);
    // Marks the open link closed; true when that is a loss to report (it was open and no
    // forced disconnect is under way).
    bool takeLoss() REQUIRES(callLock_);
    DaemonInfoSnapshot infoSnapshot() const EXCLUDES(infoLock_);
    void notifyConnected() EXCLUDES(callLock_);
    void notifyDisconnected() EXCLUDES(callLock_);
    bool isDaemonInfoStale() EXCLUDES(callLock_);
    void storeDaemonInfo(const VantrelDaemonInfo& info) REQUIRES(callLock_);
    void connect(uint32_t timeoutMs) REQUIRES(callLock_);
    bool connectToRecordAddresses(uint32_t timeoutMs) REQUIRES(callLock_);
    void connectDirectly(uint32_t timeoutMs) REQUIRES(callLock_);

    std::vector<ConnectCallback*> callbacks_ GUARDED_BY(callbacksLock_);
    Vantrel::CoMutex callbacksLock_;
    Vantrel::rcAPI rcApi_;
    VantrelServerId serverId_;
    Vantrel::CoMutex callLock_;
    // Replaced under the call lock and infoLock_; copied out under infoLock_.
    mutable Vantrel::CoMutex infoLock_;
    DaemonInfoSnapshot daemonInfo_ GUARDED_BY(infoLock_);
    bool daemonInfoStale_ GUARDED_BY(callLock_);
    // A link was opened and not closed on purpose since: its loss is still to be told.
    bool linkOpen_ GUARDED_BY(callLock_) = false;
    // forcedDisconnect() calls under way: the calls they stop lose no link.
    std::atomic<int> forcedDisconnects_{0};
};
