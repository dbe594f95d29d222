// One UDP socket taking part in an IP multicast group, over IPv4 or IPv6.
//
// The group address (the scope: a host name or numeric text) is resolved at construction, and
// its family (AF_INET or AF_INET6) decides every later option. Address texts are resolved with
// the family hint AF_INET when they hold no ':'; with a ':' the hint is AF_INET6 when the
// environment variable ZR_TCP_IPV6 exists (read once per process), else any family. A text
// the resolver refuses is parsed as a numeric address.
//
// Life: constructed (socket open, unbound) -> bind() -> join() -> drop() -> destroyed (socket
// closed). Options may be set at any time after construction.
//
// bind(anyPort): anyPort binds the first free port from FIRST_ANY_PORT up (no SO_REUSEADDR);
// otherwise the group port with SO_REUSEADDR, so that several processes of a host share it.
// The local address is the interface's (IPv4) or any address; with an interface the outgoing
// multicast interface is set to it after binding.
//
// send() to the host "localhost" goes to this host's own address (getLocalIP), so that the
// datagram leaves by a real interface; "127.0.0.1" when the host has no other.
// receive() reads a connection reset or refusal (a peer's port-unreachable) as an empty
// datagram of length 0.
//
// Failure: every operation but the accessors throws CoException whose message names the
// operation ("Unable to bind to 10.0.0.1,49152", ...) and whose expert data is the system's
// text. The object stays usable after a failure, except a failed construction.
//
// Threads: no locks; one thread at a time. The object owns its socket and is not copied.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tcp/CoSocketTypes.h"

namespace Vantrel {

class CoMulticast {
public:
    static constexpr unsigned int FIRST_ANY_PORT = 49152;

    // Null scope or interface count as "". Throws "Empty scope" for an empty scope and
    // "Unable to create a datagram socket for IPv4|for IPv6" when the socket cannot be made.
    CoMulticast(unsigned int port, const char* scope, const char* interfaceAddress);
    ~CoMulticast();
    CoMulticast(const CoMulticast&) = delete;
    CoMulticast& operator=(const CoMulticast&) = delete;

    int getSocket() const { return socket_; }
    const char* getScope() const { return scope_.c_str(); }
    const char* getInterface() const { return interface_.c_str(); }
    unsigned int getPort() const { return port_; }
    // AF_INET or AF_INET6: the group's family.
    int getFamily() const;

    void bind(bool anyPort);
    // Join or leave the group on the interface (any interface when it is empty). IPv6 finds
    // the interface's index among the local addresses; an address that is not local gives
    // index 0 (the system's choice).
    void join();
    void drop();
    // Joins the group on another local interface (IPv4 address text, or IPv6 address), so that
    // one socket hears the group on several interfaces. Fails as join().
    void joinOn(const std::string& interfaceAddress);

    void setTTL(int ttl);
    int getTTL() const;
    void setLoopback(bool loopback);
    bool willLoopback() const;

    // One datagram to host:port; a null host means the group, port 0 the group port.
    void send(const char* data, size_t length, const char* host = nullptr,
              unsigned int port = 0);
    void send(const char* data, size_t length, const sockaddr_storage& to);
    // One datagram into `buffer`; `length` is the buffer size on entry and the datagram's
    // size on return (0: an empty datagram or a reset). `from` receives the sender's address.
    void receive(char* buffer, size_t& length, sockaddr_storage& from, bool unused = false);

    // The numeric address text (no port) and the port in host order. A family other than
    // AF_INET or AF_INET6 is a programming error (assertion).
    static void addrToIPAndPort(const sockaddr_storage& address, std::string& ip,
                                unsigned int& port);
    // The IPv6 interface index of a local address text; 0 when no local address equals it.
    // Throws "Unable to acquire network interface list" when the text is not an IPv6 address
    // or the list cannot be read.
    static unsigned int interfaceIndexOf(const std::string& interfaceAddress);

private:
    // Resolves `text` by the rule above into `out`; false with errno set when it cannot.
    static bool resolve(const std::string& text, sockaddr_storage& out);
    static int lengthOf(int family);
    [[noreturn]] void fail(int line, const std::string& message, int error) const;
    void setOption(int level, int name, const void* value, int size, const std::string& failure);
    void getOption(int level, int name, void* value, int size, const std::string& failure) const;
    void setMembership(bool join, const std::string& interfaceAddress);
    bool tryBind(unsigned int port);
    void setOutgoingInterface();
    bool isIPv6() const;

    std::string scope_;
    std::unique_ptr<sockaddr_storage> group_;   // never null
    std::string interface_;
    int socket_;
    unsigned int port_;
};

}  // namespace Vantrel
