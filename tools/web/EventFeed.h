// The messages the web view pushes to its pages (node events, changes of the server list),
// kept in order with a sequence number so that each page's stream reads them at its own pace.
//
// The feed keeps the last `keep` messages; a reader that fell further behind gets, first, a
// "lost" message (the page then reloads what it shows) and continues with the oldest kept.
// Threads: every member may be called from any thread. close() wakes every waiting reader and
// makes next() return at once from then on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantrel_web {

struct FeedMessage {
    uint64_t sequence = 0;
    std::string event;  // "node", "servers", "lost"
    std::string data;   // JSON text on one line
};

class EventFeed {
public:
    explicit EventFeed(size_t keep = 4096) : keep_(keep) {}

    void publish(const std::string& event, const nlohmann::json& data);

    // The messages after sequence number `after` (0: from the oldest kept), waiting up to
    // `wait` for the first; empty when none came in time or the feed is closed. `after`
    // becomes the last number returned.
    std::vector<FeedMessage> next(uint64_t& after, std::chrono::milliseconds wait);
    // The number of the latest message (0 before the first).
    uint64_t latest() const;

    void close();
    bool closed() const;

private:
    const size_t keep_;
    mutable std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<FeedMessage> messages_;  // guarded by lock_
    uint64_t latest_ = 0;               // guarded by lock_
    bool closed_ = false;               // guarded by lock_
};

}  // namespace vantrel_web
