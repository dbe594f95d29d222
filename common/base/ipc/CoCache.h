// A thread-safe cache of reusable, lockable objects found by key.
//
// A derived cache supplies the factory (createEntry) that builds an entry for a key; entries
// say whether they serve a key (Entry::matches). getCacheEntry hands out the entry of a key
// locked for the caller, who uses it exclusively (or shared, for a SharedEntry) and then gives
// it back with releaseCacheEntry, usually through an EntryLockGuard. A released entry stays in
// the cache for the next caller of the same key.
//
// The cache bounds its size by a nominal capacity: when that is reached it can recycle the
// least recently used unlocked entry, or grow its slot table on demand. Entries unused for
// longer than the maximum age are destroyed during the next search; nothing runs between calls.
// An entry's age counts from its last hand-out, or, for a cache made with ageFromRelease, from
// its last release (so an entry held for a long time is not old the moment it comes back).
// Lookup is a linear scan, meant for small numbers of costly objects such as connections.
//
// Ownership: the cache owns its entries and destroys them when they expire, are removed or
// replaced, and at its own destruction. A caller that holds an entry only borrows it.
//
// Threads: the cache's mutex serialises getCacheEntry, the removals and each iterator's whole
// life; each entry's own lock serialises its users. Lock order is the cache's mutex, then an
// entry's lock: getCacheEntry (with matchLocked set) and the removals (without skipLocked) wait
// for an entry's lock while holding the cache's mutex. A thread that holds an entry must
// therefore release it before asking the same cache for it again with matchLocked set, or
// removing it without skipLocked. Releasing never takes the cache's mutex.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ipc/CoLock.h"
#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CoCache {
public:
    // What a caller looks an entry up by. Derived keys carry the identifying data.
    class Key {
    public:
        virtual ~Key();
    };

    // A cached object, held by one user at a time. Created unlocked; the cache locks it
    // before handing it out.
    class Entry {
    public:
        Entry();
        virtual ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        // True when this entry serves `key`. Called under the cache's mutex; for an entry that
        // another thread holds only when the caller asked for locked entries too.
        virtual bool matches(const Key& key) const = 0;
        // Takes the entry for a caller of the cache: the same as lock(); the key is not used.
        virtual void lock(const Key* key);
        // Gives the entry back: clears the locked flag, then releases the entry's lock.
        virtual void release();

        // True while someone holds the entry; a snapshot when read by another thread.
        bool isLocked() const;
        // Waits without limit for the entry's lock, then marks the entry locked.
        void lock();
        // Takes the entry's lock only when that needs no wait; true when it did.
        bool tryLock();

    private:
        friend class CoCache;

        // CoTime::getTime() of the last hand-out (or release, see ageFromRelease); written
        // under the cache's mutex, or by the holder as it releases.
        std::atomic<uint64_t> lastUse_;
        std::atomic<bool> locked_;   // set and cleared by the holder, read by the cache's scans
        CoLock lock_;                // count 1: whoever holds it holds the entry
    };

    // An entry that any number of callers may hold at once. It counts its holders and holds
    // the entry's lock while the count is above 0, so it reads as locked to the cache (and
    // to removals, which wait for the last holder). Hand it out with matchLocked set to share
    // it; without, a held shared entry is passed over like any locked entry.
    class SharedEntry : public Entry {
    public:
        SharedEntry();
        // Waits for a release still running on another thread before the entry goes.
        ~SharedEntry() override;

    protected:
        // Raise / lower the holder count; called with the entry's mutex held. The first
        // holder takes the entry's lock (which must be free: assertion "false"), the last one
        // gives it back.
        virtual void incref() REQUIRES(refMutex_);
        virtual void decref() REQUIRES(refMutex_);
        int getRefCount();

    private:
        void lock(const Key* key) override;
        void release() override;

        CoMutex refMutex_;
        int refCount_ GUARDED_BY(refMutex_);
    };

    // Holds an entry handed out by the cache and releases it at the end of its scope.
    // Movable, not copyable: one entry is released once. Used by one thread.
    class EntryLockGuard {
    public:
        // Takes over `lockedEntry`, which is null or locked (assertion "lockedEntry_->isLocked()").
        EntryLockGuard(CoCache& cache, Entry* lockedEntry);
        // The new guard takes the other's entry; the other is left holding none.
        EntryLockGuard(EntryLockGuard&& other) noexcept;
        EntryLockGuard& operator=(EntryLockGuard&& other) noexcept;
        EntryLockGuard(const EntryLockGuard&) = delete;
        EntryLockGuard& operator=(const EntryLockGuard&) = delete;
        virtual ~EntryLockGuard();

        Entry* getEntry() const { return lockedEntry_; }
        // Only while the guard holds none (assertion "lockedEntry_ == 0"); the entry must be
        // null or locked.
        void setEntry(Entry* lockedEntry);

    private:
        Entry* lockedEntry_;
        CoCache* cache_;
    };

    // Walks the occupied slots from the last to the first, holding the cache's mutex for its
    // whole life (so the same thread may still call the cache; other threads wait). Used by
    // one thread.
    class Iterator {
    public:
        explicit Iterator(CoCache& cache);
        ~Iterator();
        Iterator(const Iterator&) = delete;
        Iterator& operator=(const Iterator&) = delete;

        // The next occupied slot's entry, or null at the end.
        Entry* next();
        // Empties the slot of the entry next() returned last, without destroying the entry:
        // the caller takes it over. Does nothing when next() has returned no entry.
        void remove();
        // Empties the highest occupied slot and hands its entry over; null when empty.
        Entry* pop();

    private:
        CoCache* cache_;
        int position_;
    };

    // A capacity below 1 counts as 1. maxAge is in microseconds of CoTime::getTime(); a
    // negative value means entries never expire. With hitExpired set, an expired entry that
    // matches is still handed out. With ageFromRelease set, an entry's age counts from its last
    // release rather than its last hand-out.
    CoCache(int capacity, long long maxAge, bool hitExpired, bool ageFromRelease = false);
    // Destroys the remaining entries from the last slot to the first without taking their
    // locks: nobody may hold or use an entry any more.
    virtual ~CoCache();
    CoCache(const CoCache&) = delete;
    CoCache& operator=(const CoCache&) = delete;

    virtual void dump();
    // The factory: a new, unlocked entry for `key` (owned by the cache from then on), or null.
    virtual Entry* createEntry(const Key& key) = 0;

    // The entry for `key`, locked for the caller, or null.
    //   create:      build an entry when none matches;
    //   matchLocked: also consider entries held at the moment, waiting for a plain entry;
    //   recycle:     reuse the least recently used unlocked entry when the cache is full;
    //   growBy:      slots to add when there is no free slot and no recycling (0: none).
    // A null from the factory posts "Cache factory returned NULL." at error level.
    Entry* getCacheEntry(const Key& key, bool create, bool matchLocked, bool recycle, int growBy);
    // Gives back an entry from getCacheEntry (null is ignored); with ageFromRelease, stamps it
    // as used now. Does not take the cache's mutex.
    void releaseCacheEntry(Entry* entry);

    // Destroy the first entry in slot order that matches `key` / every matching entry / every
    // entry. With skipLocked, entries held when they are reached are left alone; without, the
    // removal waits for each holder to release.
    void removeEntry(const Key& key, bool skipLocked);
    void removeAllEntries(const Key& key, bool skipLocked);
    void resetCache(bool skipLocked);

    // The number of slots, the free ones included.
    int getTotalCapacity() const;

protected:
    // May turn `entry` (unlocked, chosen for recycling) into one for `key`; true when it did.
    // The default declines, and the cache replaces the entry by a new one instead.
    virtual bool reset(Entry& entry, const Key& key);

private:
    struct Scan {
        int hit = -1;
        int free = -1;
        int lru = -1;
        int live = 0;
    };

    Scan scan(const Key& key, bool matchLocked, uint64_t now) REQUIRES(mutex_);
    bool isExpired(const Entry& entry, uint64_t now) const;
    bool destroyIfUnused(int slot) REQUIRES(mutex_);
    int grow(int growBy) REQUIRES(mutex_);
    Entry* handOut(int slot, const Key& key, uint64_t now) REQUIRES(mutex_);
    Entry* createInSlot(int slot, const Key& key, uint64_t now) REQUIRES(mutex_);
    Entry* recycleSlot(int slot, const Key& key, uint64_t now) REQUIRES(mutex_);
    void removeMatching(const Key* key, bool skipLocked, bool all) EXCLUDES(mutex_);

    std::vector<std::unique_ptr<Entry>> slots_ GUARDED_BY(mutex_);   // null: a free slot
    const int capacity_;
    const long long maxAge_;
    const bool hitExpired_;
    const bool ageFromRelease_;
    mutable CoMutex mutex_;
};

}  // namespace Vantrel
