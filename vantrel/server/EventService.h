// The server's node events: the clients' registrations and the delivery of "NodeEvent" calls
// to their event monitors.
//
// Registrations ("RegisterEvents" / "UnregisterEvents", forms in vantrel/protocol/EventWire.h)
// are kept per client: the monitor's host is the address the client's node connection comes
// from, its port the registration's "Port", the object called the registration's
// "Connection". A registration already held is not added twice. "UnregisterEvents" with an
// empty "Subject" drops every subject of that monitor connection. Every registration of a
// node connection goes when that connection closes; those of a destroyed node go with it.
// Limits (error replies, nothing recorded): a subject of at most MAX_SUBJECT_BYTES bytes, at
// most MAX_REGISTRATIONS_PER_CONNECTION registrations and MAX_PORTS_PER_CONNECTION distinct
// monitor ports per node connection, at most MAX_MONITORS distinct monitors (host and port)
// on the server, a port from 1 to 65535.
//
// Events. Every change the store makes (NodeObserver) is sent to the clients registered for
// the changed node and to those registered for its parent:
//
//   Type (changed node)  Type (its parent)       Details (attribute stream, in this order)
//   -                    ChildCreated            Child = new id, Name, Type = node type
//   Renamed              ChildRenamed            [Child,] Name = the new name
//   Destroyed            ChildDestroyed          [Child]; every destroyed descendant's own
//                                                clients get "Destroyed" too
//   MetaDataChanged      ChildMetaDataChanged    [Child,] Stream = the stream's name
//   FramesAllocated      ChildFramesAllocated    [Child,] NumFrames = the clip's frame count
//   FramesLinked         ChildFramesLinked       [Child,] NumFrames
//   FrameWritten         ChildFrameWritten       [Child,] Frame = the frame id
//
// "NodeId" is always the node the client registered for; in the parent's events "Child" names
// the changed node. A client that reads only NodeId learns which of its nodes to look at again.
//
// Delivery never holds up the server's loop: each change is queued for each monitor (host and
// port), and a pool of at most MAX_SENDER_THREADS threads (started as events come, for the
// whole server) calls the monitors, one event of a monitor at a time and one monitor per
// thread, taking the monitors with events in turn. So events for one monitor arrive in the
// order the changes were made, and a slow monitor holds one thread, not the others' events.
// A monitor that cannot be reached or does not answer within DELIVERY_TIMEOUT_MS, or that
// lets more than MAX_QUEUED_EVENTS pile up, loses all its registrations and its queue (logged
// at warning level); one that answers an event with an error loses the registrations of that
// connection. The connection to a monitor stays open between events and is closed after
// SENDER_IDLE_MS without any.
//
// Threads: the method handlers, connectionClosed() and nodeChanged() may be called from any
// thread (one lock, never held across a network call); registrations() too.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "vantrel/protocol/EventWire.h"
#include "vantrel/server/MethodDispatcher.h"
#include "vantrel/server/NodeObserver.h"

namespace vantreld {

class EventService : public NodeObserver {
public:
    static constexpr size_t MAX_SUBJECT_BYTES = 4096;
    static constexpr size_t MAX_REGISTRATIONS_PER_CONNECTION = 4096;
    static constexpr size_t MAX_PORTS_PER_CONNECTION = 8;
    static constexpr size_t MAX_MONITORS = 256;
    static constexpr size_t MAX_SENDER_THREADS = 16;
    static constexpr size_t MAX_QUEUED_EVENTS = 10000;
    static constexpr unsigned int DELIVERY_TIMEOUT_MS = 5000;
    static constexpr unsigned int SENDER_IDLE_MS = 30000;

    struct Registration {
        uint64_t session;  // the node connection it came on
        std::string host;  // the client's monitor
        int port;
        int connection;
        std::string subject;
    };

    // `deliveryTimeoutMs` bounds each delivery (connection, login and call).
    explicit EventService(unsigned int deliveryTimeoutMs = DELIVERY_TIMEOUT_MS);
    EventService(const EventService&) = delete;
    EventService& operator=(const EventService&) = delete;
    // Stops the sender threads (a call in progress is cut short); queued events are dropped.
    ~EventService() override;

    // Adds "RegisterEvents" and "UnregisterEvents".
    void registerWith(MethodDispatcher& dispatcher);
    // The node connection `session` closed: its registrations go.
    void connectionClosed(uint64_t session);
    void nodeChanged(const NodeChange& change) override;

    std::vector<Registration> registrations() const;
    // Sender threads started so far (tests).
    size_t senderThreads() const;

private:
    class Sender;
    struct SenderItem {
        int connection;
        std::string stream;
    };
    struct Monitor {
        std::string host;
        int port;
        bool operator<(const Monitor& other) const {
            return host != other.host ? host < other.host : port < other.port;
        }
    };

    void add(const Request& request);
    void remove(const Request& request);
    static Registration registration(const Request& request);
    // Queues the event for every client registered for `subject`.
    void deliver(const std::string& subject, const std::string& type,
                 const NodeChange::Details& details);
    void enqueue(const Monitor& monitor, int connection, const std::string& stream);
    // These need the lock held.
    void forgetSubject(const std::string& subject);
    void dropMonitor(const Monitor& monitor);
    void dropRegistrations(const std::function<bool(const Registration&)>& which);
    // Puts a sender with events in the ready list, starting a thread when none is free.
    void schedule(const std::shared_ptr<Sender>& sender);
    void closeIdleSenders(std::unique_lock<std::mutex>& guard);

    // A sender thread; takes the lock itself.
    void work();
    struct Delivery {
        enum { DELIVERED, REFUSED, UNREACHABLE } outcome = DELIVERED;
        std::string reason;
    };
    // Calls the monitor (without the lock), then settles the outcome (with it).
    Delivery deliver(Sender& sender, const SenderItem& item);
    void settle(Sender& sender, const SenderItem& item, const Delivery& result);

    const unsigned int deliveryTimeoutMs_;
    mutable std::mutex lock_;
    std::condition_variable work_;
    std::vector<Registration> registrations_;
    std::map<Monitor, size_t> monitorRegistrations_;  // registrations per monitor
    std::map<Monitor, std::shared_ptr<Sender>> senders_;
    std::deque<std::shared_ptr<Sender>> ready_;  // senders with events, none busy
    std::vector<std::thread> workers_;
    size_t idleWorkers_ = 0;
    bool stopping_ = false;
};

}  // namespace vantreld
