// Encoded thumbnails kept in memory, the least recently used dropped first once their bytes
// pass the cache's budget. Entries belong to a node of a server, so that a change of the node
// (a frame written) drops them all.
//
// Threads: every member may be called from any thread.
#pragma once

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel_web {

class ThumbnailCache {
public:
    explicit ThumbnailCache(size_t maxBytes) : maxBytes_(maxBytes) {}

    // The entry `variant` (frame, size and format, say) of the node, or null.
    std::shared_ptr<const std::string> find(const std::string& server, const std::string& node,
                                            const std::string& variant);
    void store(const std::string& server, const std::string& node, const std::string& variant,
               std::shared_ptr<const std::string> bytes);
    // Drops every entry of the node.
    void forget(const std::string& server, const std::string& node);

    size_t bytes() const;

private:
    struct Entry {
        std::string key;
        std::shared_ptr<const std::string> bytes;
    };
    using Order = std::list<Entry>;  // most recently used first

    static std::string nodeKey(const std::string& server, const std::string& node);
    void erase(std::map<std::string, Order::iterator>::iterator found);

    const size_t maxBytes_;
    mutable std::mutex lock_;
    Order order_;                                   // guarded by lock_
    std::map<std::string, Order::iterator> index_;  // guarded by lock_
    size_t bytes_ = 0;                              // guarded by lock_
};

}  // namespace vantrel_web
