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

// The events queued for one monitor and the remote-call connection to it, kept open between
// events. The queue and the flags are the service's (under its lock); the connection is used
// by the one worker that has the monitor busy, and stop() may cut its wait from another thread.
class EventService::Sender {
public:
    typedef SenderItem Item;

    explicit Sender(const Monitor& monitor) : monitor(monitor) {}
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    const Monitor monitor;
    std::deque<Item> queue;
    bool scheduled = false;  // in the ready list
    bool busy = false;       // a worker is calling the monitor
    std::chrono::steady_clock::time_point lastUsed = std::chrono::steady_clock::now();
    Vantrel::rcAPI api;
};

// ---------------------------------------------------------------------------- EventService

EventService::EventService(unsigned int deliveryTimeoutMs)
    : deliveryTimeoutMs_(deliveryTimeoutMs) {}

EventService::~EventService() {
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        for (auto& sender : senders_)
            if (sender.second->busy) sender.second->api.stop(nullptr);  // cuts a wait short
        workers.swap(workers_);
    }
    work_.notify_all();
    for (std::thread& worker : workers) worker.join();
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
    // Each port is a monitor to call back: one client has one, a few at most.
    if (ports.size() > MAX_PORTS_PER_CONNECTION)
        throw ServerError("Too many event ports on this connection (at most " +
                          std::to_string(MAX_PORTS_PER_CONNECTION) + ")");
    const Monitor monitor{added.host, added.port};
    if (monitorRegistrations_.count(monitor) == 0 && monitorRegistrations_.size() >= MAX_MONITORS)
        throw ServerError("Too many event clients on this server (at most " +
                          std::to_string(MAX_MONITORS) + ")");
    ++monitorRegistrations_[monitor];
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
    std::shared_ptr<Sender>& sender = senders_[monitor];
    if (sender == nullptr) sender = std::make_shared<Sender>(monitor);
    if (sender->queue.size() >= MAX_QUEUED_EVENTS) {
        CO_MSG_WARNING("Event client %s:%d is too slow (%zu events waiting): its "
                       "registrations are dropped.",
                       monitor.host.c_str(), monitor.port, MAX_QUEUED_EVENTS);
        sender->queue.clear();
        dropMonitor(monitor);
        return;
    }
    sender->queue.push_back(Sender::Item{connection, stream});
    schedule(sender);
}

void EventService::schedule(const std::shared_ptr<Sender>& sender) {
    if (stopping_ || sender->scheduled || sender->busy || sender->queue.empty()) return;
    sender->scheduled = true;
    ready_.push_back(sender);
    if (idleWorkers_ == 0 && workers_.size() < MAX_SENDER_THREADS)
        workers_.emplace_back([this] { work(); });
    work_.notify_one();
}

void EventService::work() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopping_) {
        if (ready_.empty()) {
            ++idleWorkers_;
            work_.wait_for(guard, std::chrono::milliseconds(SENDER_IDLE_MS / 4));
            --idleWorkers_;
            closeIdleSenders(guard);
            continue;
        }
        std::shared_ptr<Sender> sender = ready_.front();
        ready_.pop_front();
        sender->scheduled = false;
        if (sender->queue.empty()) continue;  // cleared meanwhile
        Sender::Item item = std::move(sender->queue.front());
        sender->queue.pop_front();
        sender->busy = true;
        guard.unlock();
        const Delivery result = deliver(*sender, item);
        guard.lock();
        sender->busy = false;
        sender->lastUsed = std::chrono::steady_clock::now();
        settle(*sender, item, result);
        schedule(sender);  // one event per turn: a busy monitor does not starve the others
    }
}

EventService::Delivery EventService::deliver(Sender& sender, const SenderItem& item) {
    Delivery result;
    Vantrel::rcAPI& api = sender.api;
    const Monitor& monitor = sender.monitor;
    if (!api.isConnected() &&
        !api.connect(monitor.host.c_str(), monitor.port, deliveryTimeoutMs_)) {
        result.outcome = Delivery::UNREACHABLE;
        result.reason = api.lastError();
        return result;
    }
    if (api.call(item.connection, VantrelEventWire::NODE_EVENT_METHOD, item.stream.c_str(), true,
                 result.reason, deliveryTimeoutMs_))
        return result;
    if (api.isConnected() && !api.timedOut()) {  // the monitor answered "error"
        result.outcome = Delivery::REFUSED;
        return result;
    }
    // A late reply would be taken for the next event's: the connection goes.
    api.disconnect();
    result.outcome = Delivery::UNREACHABLE;
    return result;
}

void EventService::settle(Sender& sender, const SenderItem& item, const Delivery& result) {
    const Monitor& monitor = sender.monitor;
    if (result.outcome == Delivery::UNREACHABLE) {
        CO_MSG_WARNING("Event client %s:%d did not take an event (%s): its registrations are "
                       "dropped.",
                       monitor.host.c_str(), monitor.port, result.reason.c_str());
        dropMonitor(monitor);
        sender.queue.clear();
    } else if (result.outcome == Delivery::REFUSED) {
        CO_MSG_WARNING("Event client %s:%d refused an event for connection %d (%s): that "
                       "connection's registrations are dropped.",
                       monitor.host.c_str(), monitor.port, item.connection,
                       result.reason.c_str());
        dropRegistrations([&](const Registration& known) {
            return known.host == monitor.host && known.port == monitor.port &&
                   known.connection == item.connection;
        });
    }
}

// Senders without events for SENDER_IDLE_MS close their connection and go; closed outside
// the lock.
void EventService::closeIdleSenders(std::unique_lock<std::mutex>& guard) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::shared_ptr<Sender>> idle;
    for (auto it = senders_.begin(); it != senders_.end();) {
        Sender& sender = *it->second;
        if (!sender.busy && !sender.scheduled && sender.queue.empty() &&
            now - sender.lastUsed >= std::chrono::milliseconds(SENDER_IDLE_MS)) {
            idle.push_back(it->second);
            it = senders_.erase(it);
        } else {
            ++it;
        }
    }
    if (idle.empty()) return;
    guard.unlock();
    idle.clear();
    guard.lock();
}

size_t EventService::senderThreads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return workers_.size();
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
    const auto dropped =
        std::stable_partition(registrations_.begin(), registrations_.end(),
                              [&which](const Registration& known) { return !which(known); });
    for (auto it = dropped; it != registrations_.end(); ++it) {
        auto count = monitorRegistrations_.find(Monitor{it->host, it->port});
        if (count != monitorRegistrations_.end() && --count->second == 0)
            monitorRegistrations_.erase(count);
    }
    registrations_.erase(dropped, registrations_.end());
}

}  // namespace vantreld
