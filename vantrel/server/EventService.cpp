#include "vantrel/server/EventService.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <set>
#include <thread>

#include "vantrel/CoMsg.h"
#include "rcApi/rcAPI.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace {

constexpr int LAST_PORT = 65535;

bool sameMonitorConnection(const EventService::Registration& a,
                           const EventService::Registration& b) {
    return a.host == b.host && a.port == b.port && a.connection == b.connection;
}

// Peers of a server listening on IPv6 and IPv4 at once show IPv4 addresses in their IPv6
// form; the monitor is called back on the plain IPv4 address.
std::string monitorHost(const std::string& peer) {
    const std::string mapped = "::ffff:";
    if (peer.compare(0, mapped.size(), mapped) == 0 && peer.find('.') != std::string::npos)
        return peer.substr(mapped.size());
    return peer;
}

}  // namespace

// ---------------------------------------------------------------------------------- Sender

// Delivers the events queued for one monitor, in order, on a thread of its own, over one
// remote-call connection kept open between events.
class EventService::Sender {
public:
    enum class Queued { OK, ENDED, FULL };

    Sender(EventService& service, const Monitor& monitor, unsigned int timeoutMs)
        : service_(service), monitor_(monitor), timeoutMs_(timeoutMs), thread_([this] { run(); }) {}
    ~Sender() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        api_.stop(nullptr);  // cuts a wait for a reply short
        thread_.join();
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    Queued push(int connection, const std::string& stream) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (ended_) return Queued::ENDED;
            if (queue_.size() >= MAX_QUEUED_EVENTS) return Queued::FULL;
            queue_.push_back(Item{connection, stream});
        }
        wake_.notify_all();
        return Queued::OK;
    }
    bool ended() {
        std::lock_guard<std::mutex> guard(lock_);
        return ended_;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.clear();
    }

private:
    struct Item {
        int connection;
        std::string stream;
    };

    void run() {
        Item item;
        while (next(item)) {
            if (!api_.isConnected() &&
                !api_.connect(monitor_.host.c_str(), monitor_.port, timeoutMs_)) {
                fail(api_.lastError());
                continue;
            }
            std::string result;
            if (api_.call(item.connection, VantrelEventWire::NODE_EVENT_METHOD,
                          item.stream.c_str(), true, result, timeoutMs_))
                continue;
            if (api_.isConnected() && !api_.timedOut()) {  // the monitor answered "error"
                service_.connectionRefused(monitor_, item.connection, result);
                continue;
            }
            // A late reply would be taken for the next event's: the connection goes.
            api_.disconnect();
            fail(result);
        }
        api_.disconnect();
    }

    // Waits for the next event; false when stopped or idle for too long (the sender ends).
    bool next(Item& item) {
        std::unique_lock<std::mutex> guard(lock_);
        const bool woken = wake_.wait_for(guard, std::chrono::milliseconds(SENDER_IDLE_MS),
                                          [this] { return stop_ || !queue_.empty(); });
        if (stop_ || !woken) {
            ended_ = true;
            return false;
        }
        item = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }

    void fail(const std::string& reason) {
        service_.monitorFailed(monitor_, reason);
        clear();
    }

    EventService& service_;
    const Monitor monitor_;
    const unsigned int timeoutMs_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool stop_ = false;
    bool ended_ = false;
    Vantrel::rcAPI api_;  // the thread's, but for stop()
    std::thread thread_;  // last: it uses everything above
};

// ---------------------------------------------------------------------------- EventService

EventService::EventService(unsigned int deliveryTimeoutMs)
    : deliveryTimeoutMs_(deliveryTimeoutMs) {}

EventService::~EventService() {
    std::map<Monitor, std::unique_ptr<Sender>> senders;
    {
        std::lock_guard<std::mutex> guard(lock_);
        senders.swap(senders_);
    }
    // Destroyed here, outside the lock: a sender may be reporting a failure.
}

void EventService::registerWith(MethodDispatcher& dispatcher) {
    dispatcher.add(VantrelEventWire::REGISTER_METHOD, [this](const Request& request) {
        add(request);
        return std::string();
    });
    dispatcher.add(VantrelEventWire::UNREGISTER_METHOD, [this](const Request& request) {
        remove(request);
        return std::string();
    });
}

EventService::Registration EventService::registration(const Request& request) {
    VantrelEventWire::Registration wire;
    std::string error;
    if (!VantrelEventWire::decodeRegistration(request.args, wire, error))
        throw ServerError("Malformed argument: " + error);
    if (wire.port < 1 || wire.port > LAST_PORT)
        throw ServerError("Invalid event port " + std::to_string(wire.port));
    return Registration{request.session, monitorHost(request.peer), wire.port,
                        wire.connection, std::move(wire.subject)};
}

void EventService::add(const Request& request) {
    Registration added = registration(request);
    if (added.subject.size() > MAX_SUBJECT_BYTES)
        throw ServerError("Event subject longer than " + std::to_string(MAX_SUBJECT_BYTES) +
                          " bytes");
    std::lock_guard<std::mutex> guard(lock_);
    size_t held = 0;
    std::set<int> ports{added.port};
    for (Registration& known : registrations_) {
        if (sameMonitorConnection(known, added) && known.subject == added.subject) {
            known.session = added.session;
            return;
        }
        if (known.session != added.session) continue;
        ++held;
        ports.insert(known.port);
    }
    if (held >= MAX_REGISTRATIONS_PER_CONNECTION)
        throw ServerError("Too many event registrations on this connection (at most " +
                          std::to_string(MAX_REGISTRATIONS_PER_CONNECTION) + ")");
    // Each port is a sender thread here: one client has one monitor, a few at most.
    if (ports.size() > MAX_PORTS_PER_CONNECTION)
        throw ServerError("Too many event ports on this connection (at most " +
                          std::to_string(MAX_PORTS_PER_CONNECTION) + ")");
    registrations_.push_back(std::move(added));
}

void EventService::remove(const Request& request) {
    const Registration removed = registration(request);
    std::lock_guard<std::mutex> guard(lock_);
    dropRegistrations([&removed](const Registration& known) {
        return sameMonitorConnection(known, removed) &&
               (removed.subject.empty() || known.subject == removed.subject);
    });
}

void EventService::connectionClosed(uint64_t session) {
    std::lock_guard<std::mutex> guard(lock_);
    dropRegistrations([session](const Registration& known) { return known.session == session; });
}

std::vector<EventService::Registration> EventService::registrations() const {
    std::lock_guard<std::mutex> guard(lock_);
    return registrations_;
}

void EventService::nodeChanged(const NodeChange& change) {
    std::lock_guard<std::mutex> guard(lock_);
    if (registrations_.empty()) return;
    if (change.type != "Created") deliver(change.nodeId, change.type, change.details);
    if (!change.parentId.empty()) {
        NodeChange::Details details{{"Child", change.nodeId}};
        details.insert(details.end(), change.details.begin(), change.details.end());
        deliver(change.parentId, "Child" + change.type, details);
    }
    for (const std::string& descendant : change.descendants)
        deliver(descendant, change.type, NodeChange::Details());
    if (change.type != "Destroyed") return;
    forgetSubject(change.nodeId);
    for (const std::string& descendant : change.descendants) forgetSubject(descendant);
}

void EventService::deliver(const std::string& subject, const std::string& type,
                           const NodeChange::Details& details) {
    // Chosen first: a monitor dropped on the way changes the list.
    std::vector<std::pair<Monitor, int>> targets;
    for (const Registration& registration : registrations_)
        if (registration.subject == subject)
            targets.push_back({Monitor{registration.host, registration.port},
                               registration.connection});
    if (targets.empty()) return;
    const std::string stream = VantrelEventWire::encodeNodeEvent(
        {subject, type, VantrelEventWire::encodeDetails(details)});
    for (const auto& target : targets) enqueue(target.first, target.second, stream);
}

void EventService::enqueue(const Monitor& monitor, int connection, const std::string& stream) {
    std::unique_ptr<Sender>& sender = senders_[monitor];
    if (sender != nullptr && sender->ended()) sender.reset();  // ended: its thread is done
    if (sender == nullptr) sender.reset(new Sender(*this, monitor, deliveryTimeoutMs_));
    switch (sender->push(connection, stream)) {
        case Sender::Queued::OK:
            return;
        case Sender::Queued::ENDED:  // ended just now: a fresh one takes the event
            sender.reset(new Sender(*this, monitor, deliveryTimeoutMs_));
            sender->push(connection, stream);
            return;
        case Sender::Queued::FULL:
            CO_MSG_WARNING("Event client %s:%d is too slow (%zu events waiting): its "
                           "registrations are dropped.",
                           monitor.host.c_str(), monitor.port, MAX_QUEUED_EVENTS);
            sender->clear();
            dropMonitor(monitor);
            return;
    }
}

void EventService::forgetSubject(const std::string& subject) {
    dropRegistrations([&subject](const Registration& known) { return known.subject == subject; });
}

void EventService::dropMonitor(const Monitor& monitor) {
    dropRegistrations([&monitor](const Registration& known) {
        return known.host == monitor.host && known.port == monitor.port;
    });
}

void EventService::dropRegistrations(const std::function<bool(const Registration&)>& which) {
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(), which),
                         registrations_.end());
}

void EventService::monitorFailed(const Monitor& monitor, const std::string& reason) {
    CO_MSG_WARNING("Event client %s:%d did not take an event (%s): its registrations are "
                   "dropped.",
                   monitor.host.c_str(), monitor.port, reason.c_str());
    std::lock_guard<std::mutex> guard(lock_);
    dropMonitor(monitor);
}

void EventService::connectionRefused(const Monitor& monitor, int connection,
                                     const std::string& reason) {
    CO_MSG_WARNING("Event client %s:%d refused an event for connection %d (%s): that "
                   "connection's registrations are dropped.",
                   monitor.host.c_str(), monitor.port, connection, reason.c_str());
    std::lock_guard<std::mutex> guard(lock_);
    dropRegistrations([&](const Registration& known) {
        return known.host == monitor.host && known.port == monitor.port &&
               known.connection == connection;
    });
}

}  // namespace vantreld
