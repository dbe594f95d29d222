#include "ipc/CoCache.h"

#include <utility>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"

namespace Vantrel {

// Keys and entries.

CoCache::Key::~Key() = default;

CoCache::Entry::Entry() : lastUse_(0), locked_(false), lock_(1) {}

CoCache::Entry::~Entry() = default;

void CoCache::Entry::lock(const Key*) { lock(); }

void CoCache::Entry::release() {
    locked_ = false;
    lock_.release();
}

bool CoCache::Entry::isLocked() const { return locked_; }

void CoCache::Entry::lock() {
    lock_.get();
    locked_ = true;
}

bool CoCache::Entry::tryLock() {
    if (!lock_.tryGet()) return false;
    locked_ = true;
    return true;
}

CoCache::SharedEntry::SharedEntry() : refCount_(0) {}

CoCache::SharedEntry::~SharedEntry() {
    // The last holder's decref() gives the entry's lock back while still inside the entry's
    // mutex; whoever took that lock to destroy the entry must let the holder leave first.
    CoMutexGuard guard(refMutex_);
}

void CoCache::SharedEntry::lock(const Key*) {
    CoMutexGuard guard(refMutex_);
    incref();
}

void CoCache::SharedEntry::release() {
    CoMutexGuard guard(refMutex_);
    decref();
}

void CoCache::SharedEntry::incref() {
    if (++refCount_ == 1) CO_ASSERT_TEXT(tryLock(), "false");
}

void CoCache::SharedEntry::decref() {
    if (--refCount_ == 0) Entry::release();
}

int CoCache::SharedEntry::getRefCount() {
    CoMutexGuard guard(refMutex_);
    return refCount_;
}

// The guard.

CoCache::EntryLockGuard::EntryLockGuard(CoCache& cache, Entry* lockedEntry)
    : lockedEntry_(nullptr), cache_(&cache) {
    setEntry(lockedEntry);
}

CoCache::EntryLockGuard::EntryLockGuard(EntryLockGuard&& other) noexcept
    : lockedEntry_(std::exchange(other.lockedEntry_, nullptr)), cache_(other.cache_) {}

CoCache::EntryLockGuard& CoCache::EntryLockGuard::operator=(EntryLockGuard&& other) noexcept {
    if (this != &other) {
        cache_->releaseCacheEntry(lockedEntry_);
        lockedEntry_ = std::exchange(other.lockedEntry_, nullptr);
        cache_ = other.cache_;
    }
    return *this;
}

CoCache::EntryLockGuard::~EntryLockGuard() { cache_->releaseCacheEntry(lockedEntry_); }

void CoCache::EntryLockGuard::setEntry(Entry* lockedEntry) {
    CO_ASSERT_TEXT(lockedEntry_ == nullptr, "lockedEntry_ == 0");
    lockedEntry_ = lockedEntry;
    CO_ASSERT_TEXT(lockedEntry_ == nullptr || lockedEntry_->isLocked(), "lockedEntry_->isLocked()");
}

// The iterator.

CoCache::Iterator::Iterator(CoCache& cache)
    : cache_(&cache), position_(0) {
    cache_->mutex_.lock();
    position_ = static_cast<int>(cache_->slots_.size());
}

CoCache::Iterator::~Iterator() { cache_->mutex_.unlock(); }

CoCache::Entry* CoCache::Iterator::next() NO_THREAD_SAFETY_ANALYSIS {
    while (position_ > 0) {
        --position_;
        if (Entry* entry = cache_->slots_[position_].get()) return entry;
    }
    position_ = -1;
    return nullptr;
}

void CoCache::Iterator::remove() NO_THREAD_SAFETY_ANALYSIS {
    if (position_ < 0 || position_ >= static_cast<int>(cache_->slots_.size())) return;
    cache_->slots_[position_].release();
}

CoCache::Entry* CoCache::Iterator::pop() NO_THREAD_SAFETY_ANALYSIS {
    for (int slot = static_cast<int>(cache_->slots_.size()) - 1; slot >= 0; --slot)
        if (cache_->slots_[slot]) return cache_->slots_[slot].release();
    return nullptr;
}

// The cache.

CoCache::CoCache(int capacity, long long maxAge, bool hitExpired, bool ageFromRelease)
    : slots_(capacity < 1 ? 1 : capacity),
      capacity_(capacity < 1 ? 1 : capacity),
      maxAge_(maxAge),
      hitExpired_(hitExpired),
      ageFromRelease_(ageFromRelease) {}

CoCache::~CoCache() {
    CoMutexGuard guard(mutex_);
    for (auto slot = slots_.rbegin(); slot != slots_.rend(); ++slot) slot->reset();
}

void CoCache::dump() {}

bool CoCache::reset(Entry&, const Key&) { return false; }

int CoCache::getTotalCapacity() const {
    CoMutexGuard guard(mutex_);
    return static_cast<int>(slots_.size());
}

CoCache::Entry* CoCache::getCacheEntry(const Key& key, bool create, bool matchLocked,
                                       bool recycle, int growBy) {
    CoMutexGuard guard(mutex_);
    const uint64_t now = CoTime::getTime();
    Scan found = scan(key, matchLocked, now);
    if (found.hit >= 0) return handOut(found.hit, key, now);
    if (!create) return nullptr;
    if (found.free < 0) {
        if (recycle && found.lru >= 0) return recycleSlot(found.lru, key, now);
        if (growBy <= 0) return nullptr;
        found.free = grow(growBy);
    }
    if (found.live < capacity_ || !recycle || found.lru < 0)
        return createInSlot(found.free, key, now);
    return recycleSlot(found.lru, key, now);
}

// One pass over the table: finds the hit, the first free slot and the least recently used
// unlocked entry, counts the live entries, and destroys the expired ones on the way.
CoCache::Scan CoCache::scan(const Key& key, bool matchLocked, uint64_t now) {
    Scan found;
    const int total = static_cast<int>(slots_.size());
    for (int slot = 0; slot < total; ++slot) {
        Entry* entry = slots_[slot].get();
        if (entry == nullptr) {
            if (found.free < 0) found.free = slot;
            continue;
        }
        const bool locked = entry->isLocked();
        const bool expired = !locked && isExpired(*entry, now);
        const bool asked = found.hit < 0 && (!locked || matchLocked);
        if (asked && entry->matches(key) && (hitExpired_ || !expired)) {
            found.hit = slot;
            ++found.live;
            continue;
        }
        if (expired && destroyIfUnused(slot)) {
            if (found.free < 0) found.free = slot;
            continue;
        }
        ++found.live;
        // An expired entry that could not be destroyed is still being released: it counts
        // as held, like a locked one.
        const bool recyclable = !locked && !expired;
        if (recyclable && (found.lru < 0 || entry->lastUse_ < slots_[found.lru]->lastUse_))
            found.lru = slot;
    }
    return found;
}

bool CoCache::isExpired(const Entry& entry, uint64_t now) const {
    const uint64_t lastUse = entry.lastUse_;
    // A release stamped after this scan took its time has age 0, not a huge one.
    const uint64_t age = now > lastUse ? now - lastUse : 0;
    return maxAge_ >= 0 && age >= static_cast<uint64_t>(maxAge_);
}

// An unlocked entry may still be inside its holder's release(): the flag is cleared before the
// lock is given back. Taking the lock first makes sure the holder is done with it.
bool CoCache::destroyIfUnused(int slot) {
    if (!slots_[slot]->tryLock()) return false;
    slots_[slot].reset();
    return true;
}

int CoCache::grow(int growBy) {
    const int firstNew = static_cast<int>(slots_.size());
    slots_.resize(slots_.size() + static_cast<size_t>(growBy));
    return firstNew;
}

CoCache::Entry* CoCache::handOut(int slot, const Key& key, uint64_t now) {
    Entry* entry = slots_[slot].get();
    entry->lock(&key);
    entry->lastUse_ = now;
    return entry;
}

CoCache::Entry* CoCache::createInSlot(int slot, const Key& key, uint64_t now) {
    std::unique_ptr<Entry> fresh(createEntry(key));
    if (!fresh) {
        CO_MSG_ERROR("Cache factory returned NULL.");
        return nullptr;
    }
    slots_[slot] = std::move(fresh);
    return handOut(slot, key, now);
}

CoCache::Entry* CoCache::recycleSlot(int slot, const Key& key, uint64_t now) {
    if (!reset(*slots_[slot], key)) {
        std::unique_ptr<Entry> fresh(createEntry(key));
        if (!fresh) {
            CO_MSG_ERROR("Cache factory returned NULL.");
            return nullptr;
        }
        slots_[slot]->lock();
        slots_[slot] = std::move(fresh);
    }
    return handOut(slot, key, now);
}

void CoCache::releaseCacheEntry(Entry* entry) {
    if (entry == nullptr) return;
    if (ageFromRelease_) entry->lastUse_ = CoTime::getTime();
    entry->release();
}

void CoCache::removeEntry(const Key& key, bool skipLocked) { removeMatching(&key, skipLocked, false); }

void CoCache::removeAllEntries(const Key& key, bool skipLocked) {
    removeMatching(&key, skipLocked, true);
}

void CoCache::resetCache(bool skipLocked) { removeMatching(nullptr, skipLocked, true); }

// key null: every entry.
void CoCache::removeMatching(const Key* key, bool skipLocked, bool all) {
    CoMutexGuard guard(mutex_);
    for (auto& slot : slots_) {
        if (!slot || (skipLocked && slot->isLocked())) continue;
        if (key != nullptr && !slot->matches(*key)) continue;
        if (skipLocked) {
            if (!slot->tryLock()) continue;   // taken since it was reached
        } else {
            slot->lock();
        }
        slot.reset();
        if (!all) return;
    }
}

}  // namespace Vantrel
