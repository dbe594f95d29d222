// Test helper: collects every message posted through CoMsg while it is alive.
//
// Installs itself as the router on construction and restores the default router on
// destruction. Messages are recorded after the filter, exactly as a router sees them.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "vantrel/CoMsg.h"

namespace Vantrel {
namespace testing {

class MessageCapture : public CoMsg::Router {
public:
    MessageCapture() { CoMsg::setRouter(this); }
    ~MessageCapture() override { CoMsg::setRouter(nullptr); }

    void post(const CoMsg& msg) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(msg);
    }

    std::vector<CoMsg> messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const CoMsg& msg : messages()) result.push_back(msg.text());
        return result;
    }

    bool contains(const std::string& text) const {
        for (const CoMsg& msg : messages())
            if (msg.text().find(text) != std::string::npos) return true;
        return false;
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

    // Exposes the protected stream writer so tests can check the exact line forms.
    void write(const CoMsg& msg, FILE* stream) const { Router::post(msg, stream); }

private:
    mutable std::mutex mutex_;
    mutable std::vector<CoMsg> messages_;
};

}  // namespace testing
}  // namespace Vantrel
