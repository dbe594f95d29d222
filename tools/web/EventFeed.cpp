#include "EventFeed.h"

namespace vantrel_web {

void EventFeed::publish(const std::string& event, const nlohmann::json& data) {
    const std::string text = data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(FeedMessage{++latest_, event, text});
        while (messages_.size() > keep_) messages_.pop_front();
    }
    arrived_.notify_all();
}

std::vector<FeedMessage> EventFeed::next(uint64_t& after, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> guard(lock_);
    arrived_.wait_for(guard, wait, [&] { return closed_ || latest_ > after; });
    std::vector<FeedMessage> found;
    if (closed_ || latest_ <= after) return found;
    const uint64_t oldest = messages_.front().sequence;
    if (after + 1 < oldest) found.push_back(FeedMessage{oldest - 1, "lost", "{}"});
    for (const FeedMessage& message : messages_)
        if (message.sequence > after) found.push_back(message);
    after = latest_;
    return found;
}

uint64_t EventFeed::latest() const {
    std::lock_guard<std::mutex> guard(lock_);
    return latest_;
}

void EventFeed::close() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }
    arrived_.notify_all();
}

bool EventFeed::closed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

}  // namespace vantrel_web
