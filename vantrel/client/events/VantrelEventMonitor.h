// VantrelEventMonitor: the process's receiver of node events, and its per-server connections.
//
// The monitor is a remote-call server of the library's own serving side, listening on every
// address of the host (IPv6 and IPv4 where the system allows, else IPv4), so a server reaches
// it at the address its clients' connection comes from. The port is chosen by the system, or
// fixed with the environment variable VANTREL_EVENT_PORT (a number from 1 to 65535, read when
// the monitor starts; for hosts whose firewall opens one port). It publishes one method,
// "NodeEvent" (one string parameter "stream", see vantrel/protocol/EventWire.h), on the object
// ids of its connections, and serves on its own thread, "Vantrel Event Monitor".
//
// Limits (Limits below; setLimits() changes them for the next start()): a connection must log
// in within 10 s, with a login line of at most 64 KiB; a logged-in one may send request lines
// of at most 4 MiB (a "NodeEvent" is small) and is closed after 10 minutes of silence; at most
// 64 connections are open at once, further ones are closed as they are accepted.
//
// Callers: the monitor serves only servers that this process registers with. A connection
// from any other address is closed as it is accepted, and a "NodeEvent" addressed to a
// connection is refused ("Not the server of this event connection") unless it comes from an
// address of that connection's server (the address of its server id, and the node and data
// addresses of the server's record as last fetched).
//
// A Connection stands for one server handle's interest in events: it has a number of its own
// (1, 2, 3, ... within the process), keeps the handlers registered per node id, sends
// "RegisterEvents" for the first handler of a node and "UnregisterEvents" when the last one
// goes, and after every (re)connection of the server's link sends "UnregisterEvents" with an
// empty subject and one "RegisterEvents" per node (only once the connection has registered
// something: a handle that never asked for events makes no event traffic).
//
// Handlers are not owned. They run on the monitor thread, one event at a time, in the order
// they were registered for the node; a handler registered twice runs twice.
//
// Lifetime: start() (from VantrelClientInit) creates the monitor and its thread; stop() (from
// VantrelClientUninit) ends the thread and destroys the monitor. Connections live inside
// server handles, which must all be gone before stop().
//
// Threads: registerHandler, unregisterHandler and the replay after a reconnection may run on
// any threads at once (a lock per connection serialises them; the map of handlers has a lock
// of its own, held only briefly, so events are dispatched while registrations travel). Once
// unregisterHandler (or the connection's destruction) returns on an application thread, the
// handler is not running and will not run again, so it may be deleted. A handler may register
// or unregister handlers (itself included) from inside handleEvent: that neither waits for
// itself nor calls a handler that was removed meanwhile.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "loggerBase/CoLastErrLogger.h"
#include "osal/CoThreadAnnotations.h"
#include "rcApi/rcServerContext.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/VantrelNodeEvent.h"

class VantrelBaseClientAPI;

namespace Vantrel {
class CoThread;
}

class VantrelEventMonitor : public Vantrel::rcServerContext {
public:
    static constexpr const char* THREAD_NAME = "Vantrel Event Monitor";
    static constexpr const char* PORT_VARIABLE = "VANTREL_EVENT_PORT";

    class Subjects;  // a connection's handlers per node, shared with the monitor thread

    class Connection : public Vantrel::CoLastErrLogger {
    public:
        // Registers with the running monitor (assertion) and listens for (re)connections of
        // `link`, which must outlive this object. Makes no traffic.
        explicit Connection(VantrelClientConnection* link);
        // Stops listening, tells the server it may forget this connection when the link is
        // open ("UnregisterEvents" with an empty subject; a failure is posted at debug level),
        // leaves the monitor and waits for a handler of it that runs on another thread.
        ~Connection();
        Connection(const Connection&) = delete;
        Connection& operator=(const Connection&) = delete;

        unsigned int id() const { return id_; }
        // `handler` must not be null (assertion). False, with the server's or the link's text
        // in getLastError(), when the first handler of a node cannot be registered (nothing is
        // recorded then).
        bool registerHandler(const VantrelNodeId& node, VantrelNodeEvent::Handler* handler);
        // False when the node has no handlers here (no traffic; "Not registered for events of
        // node 'ID'.") or when removing its last
        // handler could not be told to the server (the node then stays, without handlers, and
        // is registered again after the next reconnection).
        bool unregisterHandler(const VantrelNodeId& node, VantrelNodeEvent::Handler* handler);

    private:
        class ConnectCallback;
        // Replays when a (re)connection asked for it and the changes lock can be had without
        // waiting; the thread that holds the lock runs this again after letting go.
        void runPendingReplay();
        // Sends "UnregisterEvents" with an empty subject and "RegisterEvents" per node.
        void replay() REQUIRES(changesLock_);
        // The server's addresses as the link knows them now (the id's address and those of
        // its record), for the monitor to know who may call back.
        void noteServerAddresses();
        typedef bool (VantrelBaseClientAPI::*Registration)(int port, int connection,
                                                             const char* subject);
        // One registration call for `subject`; false with the reason posted as the last error.
        bool send(Registration call, const char* subject) REQUIRES(changesLock_);

        const unsigned int id_;
        VantrelClientConnection* const link_;
        std::unique_ptr<VantrelBaseClientAPI> base_;  // used under changesLock_ only
        std::shared_ptr<Subjects> subjects_;
        std::unique_ptr<ConnectCallback> callback_;
        // Serialises the changes that travel to the server (re-entrant: a replay may start
        // inside a registration's call, on the same thread).
        Vantrel::CoMutex changesLock_;
        bool everRegistered_ GUARDED_BY(changesLock_) = false;
        std::atomic<bool> replayPending_{false};
    };

    struct Limits {
        size_t loginLineBytes = 64 * 1024;
        size_t eventLineBytes = 4 * 1024 * 1024;
        size_t connections = 64;
        unsigned int loginTimeoutMs = 10000;
        unsigned int idleTimeoutMs = 600000;
    };
    static Limits limits();
    // Taken by the next start() (tests). Any thread.
    static void setLimits(const Limits& limits);

    // Creates the monitor and starts its thread; true when running already. False when no
    // port could be listened on (posted).
    static bool start();
    // Stops the thread (within a fraction of a second) and destroys the monitor.
    static void stop();
    // The running monitor, or null.
    static VantrelEventMonitor* instance();

    // The port announced in every registration.
    int port() const { return getPort(); }
    // True on the monitor's own thread.
    static bool onMonitorThread();

    ~VantrelEventMonitor() override;

private:
    VantrelEventMonitor(int port, const std::string& bindAddress);
    static VantrelEventMonitor* create();
    static int configuredPort();
    static void threadMain(void* monitor);
    void run();

    void addConnection(unsigned int id, const std::shared_ptr<Subjects>& subjects)
        EXCLUDES(connectionsLock_);
    void removeConnection(unsigned int id, const Subjects* subjects) EXCLUDES(connectionsLock_);
    // Whether `peer` is an address of a server some connection registers with.
    bool isServerAddress(const std::string& peer) EXCLUDES(connectionsLock_);
    // Whether a new connection from `peer` is served (loop thread).
    bool admits(const std::string& peer);
    void applyLimits(const Limits& limits);
    // The live subjects registered as `object`, or null when that connection is gone.
    std::shared_ptr<Subjects> findSubjects(const void* object) EXCLUDES(connectionsLock_);
    static bool serveNodeEvent(void* object, const Vantrel::rcMethod& method,
                               const Vantrel::rcParam::Array& params, Vantrel::rcParam& result);

    Vantrel::CoMutex connectionsLock_;
    std::vector<std::shared_ptr<Subjects>> connections_ GUARDED_BY(connectionsLock_);
    std::atomic<bool> stop_;
    Vantrel::CoThread* thread_;
    size_t maxConnections_ = Limits().connections;
};
