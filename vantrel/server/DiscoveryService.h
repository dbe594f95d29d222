// vantreld on the discovery group: announces the server, answers searches, and keeps the
// servers it hears of for "GetDaemonList".
//
// At construction the service joins the group on every multicast-capable IPv4 interface of
// the host and announces DISCOVER_SERVERS from each (the group's default interface when there
// is none); it announces again every resync period. A FIND_SERVERS whose payload is empty or
// names this server's database is answered by a DISCOVER_SERVERS_REPLY sent to the sender
// (whether the request came by multicast or unicast), at most as often as ReplyRateLimit
// lets each source address be answered (a forged source is not flooded). DISCOVER_SERVERS
// and DISCOVER_SERVERS_REPLY of other servers are kept (cleaned like the client does; at most
// MAX_HEARD_SERVERS, further servers are not listed until one goes) and REMOVE_SERVER forgets
// them when it comes from one of the addresses of the server removed (as listed or as the
// removal names it); servers silent for twice the resync period are dropped. Datagrams from
// addresses that `allows` refuses (the --allow networks) are dropped unread. The destructor, a
// clean stop, announces REMOVE_SERVER. Malformed datagrams are logged as warnings and dropped.
//
// Failure: the constructor throws CoException when the group socket cannot be made, bound or
// joined on any interface; later send failures are logged.
// Threads: the service runs one thread of its own; knownServers() may be called from any
// thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tcp/CoMulticast.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/client/discovery/VantrelKnownServers.h"
#include "vantrel/server/ReplyRateLimit.h"

namespace vantreld {

class DiscoveryService {
public:
    struct Group {
        unsigned port = 7555;
        std::string scope = "224.0.0.1";
        unsigned ttl = 1;
        unsigned resyncSeconds = 300;
    };

    static constexpr size_t MAX_HEARD_SERVERS = 256;

    // `self` is this server's record, announced as it is. `allows` (numeric IPv4 address of
    // a datagram's sender) empty: every sender is heard.
    DiscoveryService(const Group& group, const VantrelDaemonInfo& self,
                     std::function<bool(const std::string& sender)> allows = {});
    ~DiscoveryService();
    DiscoveryService(const DiscoveryService&) = delete;
    DiscoveryService& operator=(const DiscoveryService&) = delete;

    // This server first, then the other servers heard of, in list order.
    std::vector<VantrelDaemonInfo> knownServers() const;

private:
    void openSenders();
    void run();
    void announce(int type);
    void receiveOne();
    void handle(int type, const std::string& payload, const sockaddr_storage& from,
                const std::string& sender);
    void answer(const std::string& payload, const sockaddr_storage& from,
                const std::string& sender);
    // Whether a REMOVE_SERVER of `record` (as received) comes from one of its server's
    // addresses.
    bool sentByItsServer(const VantrelDaemonInfo& record, const std::string& sender) const;
    bool isSelf(const VantrelDaemonInfo& record) const;

    const Group group_;
    const VantrelDaemonInfo self_;
    const std::string announcement_;
    Vantrel::CoMulticast groupSocket_;
    std::vector<std::unique_ptr<Vantrel::CoMulticast>> senders_;
    const std::function<bool(const std::string&)> allows_;
    ReplyRateLimit replies_;  // the service thread's
    VantrelKnownServers heard_{MAX_HEARD_SERVERS};
    int wakePipe_[2];
    std::atomic<bool> stop_;
    std::thread thread_;
};

}  // namespace vantreld
