// Helpers of the node-event tests: a handler that records what it is given and where.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "vantrel/client/events/VantrelEventMonitor.h"
#include "vantrel/VantrelNodeEvent.h"

namespace client_testing {

class RecordingHandler : public VantrelNodeEvent::Handler {
public:
    struct Seen {
        std::string nodeId;
        std::string type;
        std::string details;  // the dictionary's stream text
        bool onMonitorThread;
    };

    void handleEvent(const VantrelNodeEvent& event) override {
        std::lock_guard<std::mutex> guard(lock_);
        seen_.push_back(Seen{event.getNodeId().id(), event.getType().c_str(),
                             event.getDetails().getStream(),
                             VantrelEventMonitor::onMonitorThread()});
        changed_.notify_all();
    }

    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }
    // Waits until `count` events have come (at most 10 s).
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10),
                                 [&] { return seen_.size() >= count; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Seen> seen_;
};

// The argument text of a registration, written out here rather than with the library's
// encoder.
inline std::string registrationArgs(int port, unsigned int connection, const std::string& subject) {
    const std::string portText = std::to_string(port);
    const std::string connectionText = std::to_string(connection);
    return "Port " + std::to_string(portText.size()) + " " + portText + "Connection " +
           std::to_string(connectionText.size()) + " " + connectionText + "Subject " +
           std::to_string(subject.size()) + " " + subject;
}

}  // namespace client_testing
