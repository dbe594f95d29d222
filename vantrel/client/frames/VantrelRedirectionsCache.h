// VantrelRedirectionsCache: which server holds a frame that the primary server redirected
// ("ReadAheadRedirect"), and one data connection per frame port of such servers.
//
// A fixed number of slots (ZR_VANTREL_REDIRECTION_CACHE_SIZE, default 32, read at
// construction; 0 or less: nothing is cached and every frame goes to the primary server).
// Storing a redirect takes the slot already keyed by the frame id, else the first free slot,
// else the least recently used one (on equal use times the earlier slot). A lookup that hits
// refreshes the slot's use time. Slots are overwritten, never freed.
//
// One connection serves every slot that names the same frame port; it is made for the slot
// first looked up with that port and, whenever it reconnects, asks that slot for its current
// record.
//
// Ownership: owns its slots and connections. Threads: none of its own; one thread at a time,
// except stopAll(), which any thread may call (the connections are added under a lock).
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
    class Entry : public VantrelDaemonInfoMgr {
    public:
        const VantrelDaemonInfo* getDaemonInfo() override { return &record; }
        void invalidateDaemonInfo() override {}
        const char* lastError() const override { return ""; }

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

    // The connection to the server holding `frameId`, or null when no slot names it.
    VantrelFrameConnection* connectionFor(const std::string& frameId);
    void store(const std::string& frameId, const VantrelDaemonInfo& record);
    // stop() on every connection to a redirect target. Any thread.
    void stopAll();

    size_t size() const { return entries_.size(); }
    const Entry& entry(size_t slot) const { return entries_[slot]; }

private:
    size_t slotFor(const std::string& frameId) const;

    std::vector<Entry> entries_;
    std::mutex connectionsLock_;  // guards the map against stopAll()
    std::map<int, std::unique_ptr<VantrelFrameConnection>> connectionsByPort_;
    std::function<uint64_t()> clock_;
};
