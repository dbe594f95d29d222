// The frame server's read-ahead cache: frames named by read-ahead requests are loaded by
// worker threads into memory, so that the read that follows is served from there.
//
// Bounded: the frames cached and the frames being loaded together hold at most
// `capacityBytes` (a load reserves its frame's size before it reads; the oldest loaded frames
// make room), and at most MAX_PENDING loads wait. A frame larger than the capacity is not
// loaded, and a read-ahead that finds no room (loads in flight hold it) is dropped: they are
// only hints, and the read goes to the file.
//
// Fresh bytes: after forget(frameId) or clear() returns, find() gives no bytes read before
// that call (a load on its way then is thrown away, also when the frame is asked for again
// meanwhile), so a read after an acknowledged write never sees the old bytes.
//
// Threads: every operation may be called from any thread (one lock); the destructor stops the
// workers and waits for them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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

    // Bytes cached plus bytes reserved by loads in flight (tests).
    size_t heldBytes();

private:
    struct Slot {
        std::shared_ptr<const std::string> bytes;  // null while loading
        bool loading = true;
        uint64_t generation = 0;  // of the request that made the slot
    };
    typedef std::pair<std::string, uint64_t> Load;  // frame id, slot generation

    void work();
    void load(std::unique_lock<std::mutex>& hold, const Load& next);
    // Whether the slot made by `load` is still there and waiting for it.
    bool current(const Load& load);
    // Reserves `size` bytes for a load, evicting the oldest loaded frames; false when the
    // loads in flight leave no room.
    bool reserve(size_t size);
    void evictOver(size_t capacity);
    void drop(const std::string& frameId);

    const FrameStorage& storage_;
    const size_t capacityBytes_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<std::string, Slot> slots_;
    std::deque<Load> queue_;          // waiting loads
    std::deque<std::string> loaded_;  // in load order, for eviction
    size_t cachedBytes_ = 0;
    size_t reservedBytes_ = 0;  // by loads reading now
    uint64_t generations_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vantreld
