// The process-wide discovery client: listens for server announcements on the multicast group,
// sends search requests, and keeps the live list of known servers (VantrelKnownServers).
//
// Sockets. The public socket is bound to the group port on every address and joined to the
// group: it hears announcements (DISCOVER_SERVERS, REMOVE_SERVER). One private socket per
// multicast-capable IPv4 interface, bound to the interface's address on the first free port
// from 49152, sends the requests (FIND_SERVERS) and hears the servers' unicast replies
// (DISCOVER_SERVERS_REPLY). Interfaces that come and go are followed through a network
// dispatcher that the client owns: an interface that comes up gets a private socket and a new
// search; one that goes down has its socket flagged and closed by the waiting loop.
//
// Thread. start() makes one search (the local server first, then the network), fetches the
// whole server list ("GetDaemonList") from the first server that answers, and starts the
// listening thread "Vantrel Multicast", which handles every datagram and discards the servers
// silent for twice the resync time (VANTREL_MULTICAST_RESYNC_TIME seconds, default 300, read
// at load). Malformed datagrams are logged and dropped.
//
// Configuration: group port, scope and TTL from CoNetworkConfig ([SelfDiscovery]), defaults
// 7555, "224.0.0.1" and 1.
//
// Threads: every public operation may be called from any thread. The servers list has its
// lock (inside VantrelKnownServers), the private sockets list its own, each private socket a
// lock for its sends. Lock order: private sockets, then one socket's send lock or the servers.
// Searches made while the listening thread runs do not send or wait; they copy the live list.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "network/CoNetworkDispatcher.h"
#include "network/CoNetworkInterface.h"
#include "osal/CoThreadAnnotations.h"
#include "tcp/CoMulticast.h"
#include "tcp/CoSocketWait.h"
#include "vantrel/client/discovery/VantrelKnownServers.h"

namespace Vantrel {
class CoThread;
}

class VantrelMulticastClient {
public:
    static constexpr unsigned DEFAULT_PORT = 7555;
    static constexpr const char* DEFAULT_SCOPE = "224.0.0.1";
    static constexpr unsigned DEFAULT_TTL = 1;
    static constexpr uint64_t FIND_TIMEOUT_MICROS = 1000000;
    static constexpr uint64_t WAIT_PASS_MICROS = 2000000;
    static constexpr int LIST_TIMEOUT_MS = 5000;
    static constexpr int MAX_WAIT_SOCKETS = 64;

    // The instance, made and started on first use (guarded by a process-wide lock). Throws
    // CoException when it cannot be made at all.
    static VantrelMulticastClient& getInstance();
    // The instance once made and started, else null; never waits. The pointer stays valid
    // until destroyInstance(), which runs at library shutdown, after every other use.
    static VantrelMulticastClient* existingInstance();
    // Stops and deletes the instance (VantrelClientUninit).
    static void destroyInstance();

    // Resync time in seconds: VANTREL_MULTICAST_RESYNC_TIME at load, 300 when unset; tests may
    // change it before the instance is made.
    static unsigned resyncSeconds();
    static void setResyncSeconds(unsigned seconds);

    // Sockets made (the public one not bound yet), interfaces reported. Not started.
    VantrelMulticastClient(unsigned port, const char* scope, unsigned ttl);
    // Stops the thread (at once) and frees the sockets and the list.
    virtual ~VantrelMulticastClient();
    VantrelMulticastClient(const VantrelMulticastClient&) = delete;
    VantrelMulticastClient& operator=(const VantrelMulticastClient&) = delete;

    // The search on this host, the public socket bound and joined (a failure is logged "Could
    // not bind/join public multicast socket on 'PORT/SCOPE/TTL': WHY" and the client goes on
    // without it), the search on the network when the first found nothing, then the
    // listening thread (see above).
    void start();
    bool isRunning() const { return thread_ != nullptr; }

    // Copies into `out` (replaced) the servers whose database equals `database` (all for null)
    // and returns their number. Before the thread runs it first searches: FIND_SERVERS to
    // host:port (null host: the group; port 0: the group port), waits at most one second for
    // the first answer, and fetches the full list from the first server that answered.
    int findServers(std::vector<VantrelDaemonInfo>& out, const char* database, const char* host,
                    unsigned port);
    // Sends FIND_SERVERS (with the database filter when not null or empty) on every interface,
    // without waiting. Failures are logged.
    void sendDiscovery(const char* database);
    // The first listed server that `id` names, into `out`; false when none.
    bool resolve(const VantrelServerId& id, VantrelDaemonInfo& out);

    // A connection reached the server `record` describes: renews its activity time, or asks
    // an unlisted server directly (unicast FIND_SERVERS to its first address).
    void serverAnswered(const VantrelDaemonInfo& record);
    // None of the server's addresses answered: it leaves the list.
    void dropServer(const VantrelDaemonInfo& record);

    VantrelKnownServers& servers() { return servers_; }
    unsigned getPort() const { return port_; }
    const std::string& getScope() const { return scope_; }

protected:
    // Binds the public socket to the group port on every address and joins the group.
    void openPublicSocket();
    // Handles one valid packet from `sender`; true when it changed the list.
    virtual bool handleRequest(int type, const std::string& payload, const std::string& sender);
    virtual void discardInactive();
    // Sends one packet from the private sockets: to host:port (unicast; the first successful
    // send ends) or, with a null host, to the group on every interface.
    virtual void sendRequest(int type, const std::string& payload, const char* host,
                             unsigned port);
    // Handles datagrams until one changes the list (true), or the time runs out or the client
    // stops (false). Throws CoException when the wait itself fails.
    virtual bool waitForActivity(uint64_t timeoutMicros);

private:
    struct PrivateSocket {
        Vantrel::CoNetworkInterface networkInterface;
        std::unique_ptr<Vantrel::CoMulticast> socket;
        Vantrel::CoMutex sendLock;
        bool removed = false;
    };
    class Observer : public Vantrel::CoNetworkDispatcher::Observer {
    public:
        explicit Observer(VantrelMulticastClient& client) : client_(client) {}
        void notify(Vantrel::CoNetworkDispatcher::Event event,
                    const Vantrel::CoNetworkInterface& networkInterface) override;

    private:
        VantrelMulticastClient& client_;
    };

    static void threadMain(void* self);
    void listen();
    void interfaceUp(const Vantrel::CoNetworkInterface& networkInterface);
    void interfaceDown(const Vantrel::CoNetworkInterface& networkInterface);
    std::unique_ptr<Vantrel::CoMulticast> openPrivateSocket(
        const Vantrel::CoNetworkInterface& networkInterface);
    bool sendFrom(PrivateSocket& entry, const std::string& packet, const char* host,
                  unsigned port, const char* typeName, std::string& error);
    // One pass of the waiting loop; true when a packet changed the list.
    bool waitPass(uint64_t timeoutMicros);
    std::vector<int> collectSockets() EXCLUDES(privateLock_);
    bool receiveFrom(Vantrel::CoMulticast& socket);
    bool handleDatagram(const char* data, size_t size, const std::string& sender,
                        unsigned senderPort);
    void fetchList(const VantrelDaemonInfo& server, const char* database);
    void wake();

    const unsigned port_;
    const std::string scope_;
    const unsigned ttl_;
    VantrelKnownServers servers_;
    Vantrel::CoThread* thread_;
    Vantrel::CoMulticast publicSocket_;
    std::atomic<bool> stop_;
    uint64_t nextDiscard_;
    std::list<PrivateSocket> privateSockets_ GUARDED_BY(privateLock_);
    Vantrel::CoMutex privateLock_;
    Vantrel::CoWakeup wakeup_;
    Observer observer_;
    std::unique_ptr<Vantrel::CoNetworkDispatcher> dispatcher_;
};
