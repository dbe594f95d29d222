#include "vantrel/server/FramePrefetcher.h"

#include <algorithm>

namespace vantreld {

FramePrefetcher::FramePrefetcher(const FrameStorage& storage, size_t capacityBytes, int workers)
    : storage_(storage), capacityBytes_(capacityBytes) {
    for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

FramePrefetcher::~FramePrefetcher() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void FramePrefetcher::request(const std::string& frameId) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (slots_.count(frameId) != 0 || queue_.size() >= MAX_PENDING) return;
        Slot& slot = slots_[frameId];
        slot.generation = ++generations_;
        queue_.emplace_back(frameId, slot.generation);
    }
    changed_.notify_all();
}

std::shared_ptr<const std::string> FramePrefetcher::find(const std::string& frameId) {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        auto slot = slots_.find(frameId);
        if (slot == slots_.end()) return nullptr;
        if (!slot->second.loading) return slot->second.bytes;
        changed_.wait(hold);
    }
}

void FramePrefetcher::forget(const std::string& frameId) {
    std::lock_guard<std::mutex> hold(lock_);
    // A load on its way finds its slot gone, or a newer one, and keeps nothing.
    drop(frameId);
    changed_.notify_all();
}

void FramePrefetcher::clear() {
    std::lock_guard<std::mutex> hold(lock_);
    slots_.clear();
    queue_.clear();
    loaded_.clear();
    cachedBytes_ = 0;
    changed_.notify_all();
}

size_t FramePrefetcher::heldBytes() {
    std::lock_guard<std::mutex> hold(lock_);
    return cachedBytes_ + reservedBytes_;
}

void FramePrefetcher::drop(const std::string& frameId) {
    auto slot = slots_.find(frameId);
    if (slot == slots_.end()) return;
    if (slot->second.bytes) {
        cachedBytes_ -= slot->second.bytes->size();
        loaded_.erase(std::find(loaded_.begin(), loaded_.end(), frameId));
    }
    slots_.erase(slot);
}

void FramePrefetcher::evictOver(size_t capacity) {
    while (cachedBytes_ > capacity && !loaded_.empty()) {
        auto slot = slots_.find(loaded_.front());
        if (slot != slots_.end() && slot->second.bytes) cachedBytes_ -= slot->second.bytes->size();
        if (slot != slots_.end()) slots_.erase(slot);
        loaded_.pop_front();
    }
}

bool FramePrefetcher::reserve(size_t size) {
    if (size > capacityBytes_ || reservedBytes_ > capacityBytes_ - size) return false;
    evictOver(capacityBytes_ - reservedBytes_ - size);
    reservedBytes_ += size;
    return true;
}

bool FramePrefetcher::current(const Load& load) {
    auto slot = slots_.find(load.first);
    return slot != slots_.end() && slot->second.loading && slot->second.generation == load.second;
}

void FramePrefetcher::work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const Load next = queue_.front();
        queue_.pop_front();
        load(hold, next);
        changed_.notify_all();
    }
}

// Called and returns with the lock held; reads without it.
void FramePrefetcher::load(std::unique_lock<std::mutex>& hold, const Load& next) {
    hold.unlock();
    std::unique_ptr<FrameStorage::OpenFrame> frame;
    try {
        frame.reset(new FrameStorage::OpenFrame(storage_.openFrame(next.first)));
    } catch (const std::exception&) {
        // An unknown or unreadable frame is not cached: the read reports it.
    }
    hold.lock();
    if (!current(next)) return;
    if (!frame || !reserve(frame->size())) {
        slots_.erase(next.first);
        return;
    }
    const size_t size = frame->size();
    hold.unlock();
    std::shared_ptr<const std::string> bytes;
    try {
        bytes = std::make_shared<const std::string>(FrameStorage::readAll(*frame));
    } catch (const std::bad_alloc&) {
    }
    frame.reset();
    hold.lock();
    reservedBytes_ -= size;
    if (!current(next)) return;
    Slot& slot = slots_[next.first];
    if (!bytes) {
        slots_.erase(next.first);
        return;
    }
    slot.bytes = bytes;
    slot.loading = false;
    cachedBytes_ += bytes->size();
    loaded_.push_back(next.first);
}

}  // namespace vantreld
