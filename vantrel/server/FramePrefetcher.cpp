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
        slots_[frameId] = Slot();
        queue_.push_back(frameId);
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
    auto slot = slots_.find(frameId);
    if (slot == slots_.end()) return;
    // A load on its way finds its slot gone and keeps nothing.
    if (slot->second.bytes) cachedBytes_ -= slot->second.bytes->size();
    slots_.erase(slot);
    loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), frameId), loaded_.end());
    changed_.notify_all();
}

void FramePrefetcher::clear() {
    std::lock_guard<std::mutex> hold(lock_);
    slots_.clear();  // loads on their way find their slots gone and keep nothing
    loaded_.clear();
    cachedBytes_ = 0;
    changed_.notify_all();
}

void FramePrefetcher::evictOver(size_t capacity) {
    while (cachedBytes_ > capacity && !loaded_.empty()) {
        auto slot = slots_.find(loaded_.front());
        if (slot != slots_.end() && slot->second.bytes) cachedBytes_ -= slot->second.bytes->size();
        if (slot != slots_.end()) slots_.erase(slot);
        loaded_.pop_front();
    }
}

void FramePrefetcher::work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        const std::string frameId = queue_.front();
        queue_.pop_front();
        hold.unlock();
        std::shared_ptr<const std::string> bytes;
        try {
            bytes = std::make_shared<const std::string>(storage_.loadFrame(frameId));
        } catch (const std::exception&) {
            // An unknown frame is not cached: the read reports it.
        }
        hold.lock();
        auto slot = slots_.find(frameId);
        if (slot == slots_.end() || !slot->second.loading) continue;
        if (!bytes || bytes->size() > capacityBytes_) {
            slots_.erase(slot);
        } else {
            slot->second.bytes = bytes;
            slot->second.loading = false;
            cachedBytes_ += bytes->size();
            loaded_.push_back(frameId);
            evictOver(capacityBytes_);
        }
        changed_.notify_all();
    }
}

}  // namespace vantreld
