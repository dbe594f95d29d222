#include "ThumbnailCache.h"

namespace vantrel_web {

std::string ThumbnailCache::nodeKey(const std::string& server, const std::string& node) {
    // Neither part holds a NUL, so the key of one node is never the start of another's.
    return server + '\0' + node + '\0';
}

std::shared_ptr<const std::string> ThumbnailCache::find(const std::string& server,
                                                        const std::string& node,
                                                        const std::string& variant) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = index_.find(nodeKey(server, node) + variant);
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->bytes;
}

void ThumbnailCache::store(const std::string& server, const std::string& node,
                           const std::string& variant, std::shared_ptr<const std::string> bytes) {
    if (!bytes || bytes->size() > maxBytes_) return;
    const std::string key = nodeKey(server, node) + variant;
    std::lock_guard<std::mutex> guard(lock_);
    const auto old = index_.find(key);
    if (old != index_.end()) erase(old);
    bytes_ += bytes->size();
    order_.push_front(Entry{key, std::move(bytes)});
    index_[key] = order_.begin();
    while (bytes_ > maxBytes_) erase(index_.find(order_.back().key));
}

void ThumbnailCache::forget(const std::string& server, const std::string& node) {
    const std::string prefix = nodeKey(server, node);
    std::lock_guard<std::mutex> guard(lock_);
    auto it = index_.lower_bound(prefix);
    while (it != index_.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
        const auto doomed = it++;
        erase(doomed);
    }
}

size_t ThumbnailCache::bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
}

void ThumbnailCache::erase(std::map<std::string, Order::iterator>::iterator found) {
    bytes_ -= found->second->bytes->size();
    order_.erase(found->second);
    index_.erase(found);
}

}  // namespace vantrel_web
