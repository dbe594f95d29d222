// The frame server's read-ahead cache: frames named by read-ahead requests are loaded by
// worker threads into memory, so that the read that follows is served from there.
//
// Bounded: at most `capacityBytes` of frame data are kept (the oldest loaded go first) and at
// most MAX_PENDING loads wait; further read-aheads are dropped (they are only hints).
//
// Threads: every operation may be called from any thread (one lock); the destructor stops the
// workers and waits for them.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/server/FrameStorage.h"

namespace vantreld {

class FramePrefetcher {
public:
    static constexpr size_t MAX_PENDING = 256;

    FramePrefetcher(const FrameStorage& storage, size_t capacityBytes, int workers);
    ~FramePrefetcher();
    FramePrefetcher(const FramePrefetcher&) = delete;
    FramePrefetcher& operator=(const FramePrefetcher&) = delete;

    // Starts loading `frameId` unless it is cached or on its way.
    void request(const std::string& frameId);
    // The cached bytes of `frameId` (waiting for a load on its way), or null when it is not
    // cached (or is unknown).
    std::shared_ptr<const std::string> find(const std::string& frameId);
    // Drops `frameId` (it was rewritten).
    void forget(const std::string& frameId);
    // Drops everything cached.
    void clear();

private:
    struct Slot {
        std::shared_ptr<const std::string> bytes;  // null while loading
        bool loading = true;
    };
    void work();
    void evictOver(size_t capacity);

    const FrameStorage& storage_;
    const size_t capacityBytes_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::string, Slot> slots_;
    std::deque<std::string> queue_;   // waiting loads
    std::deque<std::string> loaded_;  // in load order, for eviction
    size_t cachedBytes_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vantreld
