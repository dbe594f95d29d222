// VantrelRedirectionsCache: which server holds a frame that the primary server redirected
// ("ReadAheadRedirect"), and one data connection per such server.
//
// A fixed number of slots (ZR_VANTREL_REDIRECTION_CACHE_SIZE, default 32, read at
// construction; 0 or less: nothing is cached and every frame goes to the primary server).
// Storing a redirect takes the slot already keyed by the frame id, else the first free slot,
// else the least recently used one (on equal use times the earlier slot). A lookup that hits
// refreshes the slot's use time.
//
// Connections. A redirect target is known by its data addresses and its frame port (0 counts
// as the default frame port): every slot naming the same addresses and port shares one
// connection, and slots naming other addresses never do, even on the same port. A connection
// keeps the record it was made from, so a slot that is overwritten never re-aims it at another
// server. A connection that no slot names any more is closed at once (a primary that names
// many servers cannot make the client hold a socket for each beyond the slots). forget()
// drops a target that cannot be reached: its slots are freed and its connection closed, so
// the frames it held are asked of the primary again.
//
// Ownership: owns its slots and connections. Threads: none of its own; one thread at a time,
// except stopAll(), which any thread may call (connections are added and closed under a lock).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantrel/client/connection/VantrelDaemonInfo.h"

class VantrelFrameConnection;

class VantrelRedirectionsCache {
public:
    static constexpr int DEFAULT_SIZE = 32;

    // One slot: the record of the server that holds the frame `key`.
    struct Entry {
        bool used = false;
        std::string key;
        VantrelDaemonInfo record;
        uint64_t lastUse = 0;
    };

    // `clock` gives the use times (CoTime::getTime by default; tests pass a counter).
    explicit VantrelRedirectionsCache(std::function<uint64_t()> clock = nullptr);
    VantrelRedirectionsCache(int size, std::function<uint64_t()> clock);
    ~VantrelRedirectionsCache();
    VantrelRedirectionsCache(const VantrelRedirectionsCache&) = delete;
    VantrelRedirectionsCache& operator=(const VantrelRedirectionsCache&) = delete;

    // The connection to the server holding `frameId`, or null when no slot names it. Valid
    // until the next store() or forget().
    VantrelFrameConnection* connectionFor(const std::string& frameId);
    // May close the connection of the redirect the slot held before.
    void store(const std::string& frameId, const VantrelDaemonInfo& record);
    // Frees every slot whose server `connection` reaches and closes it. Nothing when
    // `connection` is not one of this cache's.
    void forget(const VantrelFrameConnection* connection);
    // stop() on every connection to a redirect target. Any thread.
    void stopAll();

    size_t size() const { return entries_.size(); }
    const Entry& entry(size_t slot) const { return entries_[slot]; }
    size_t connectionCount();

private:
    class Target;

    // The data addresses and frame port of `record`: the servers a connection may reach.
    static std::string targetKey(const VantrelDaemonInfo& record);
    size_t slotFor(const std::string& frameId) const;
    void closeUnusedConnections();

    std::vector<Entry> entries_;
    std::mutex connectionsLock_;  // guards the map against stopAll()
    std::map<std::string, std::unique_ptr<Target>> targets_;
    std::function<uint64_t()> clock_;
};
