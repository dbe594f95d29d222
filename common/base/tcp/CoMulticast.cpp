// CoMulticast over the system's socket calls, which both platforms spell alike; what differs
// (creating and closing the socket, finding an interface's index) is in the platform files.
#include "tcp/CoMulticast.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "vantrel/CoException.h"
#include "osal/CoAssert.h"
#include "osal/CoEnvSettings.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "tcp/CoMulticastOs.h"
#include "tcp/CoOsError.h"

namespace Vantrel {

namespace {

bool preferIPv6() {
    static const bool set = coEnvExists("ZR_TCP_IPV6");
    return set;
}

bool hasColon(const std::string& text) { return text.find(':') != std::string::npos; }

// The numeric form of an address text, with an optional "%zone" (numeric hosts only).
bool parseNumeric(const std::string& text, int family, sockaddr_storage& out) {
    addrinfo hints = {};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0) return false;
    std::memcpy(&out, list->ai_addr, list->ai_addrlen);
    freeaddrinfo(list);
    return true;
}

decltype(in_addr::s_addr) ipv4Of(const std::string& text) { return inet_addr(text.c_str()); }

// The failed socket call's error as an errno value.
int socketError() { return coTakeSocketError(); }

std::string format(const char* pattern, const std::string& a, const std::string& b = "",
                   unsigned long long n = 0) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, a.c_str(), b.c_str(), n);
    return text;
}

}  // namespace

bool CoMulticast::resolve(const std::string& text, sockaddr_storage& out) {
    addrinfo hints = {};
    hints.ai_family = !hasColon(text) ? AF_INET : preferIPv6() ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &list) == 0) {
        std::memset(&out, 0, sizeof out);
        std::memcpy(&out, list->ai_addr, list->ai_addrlen);
        freeaddrinfo(list);
        return true;
    }
    if (!hasColon(text)) {
        sockaddr_in& v4 = reinterpret_cast<sockaddr_in&>(out);
        std::memset(&out, 0, sizeof out);
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = ipv4Of(text);
        return true;
    }
    if (parseNumeric(text, AF_INET6, out)) return true;
    errno = EAFNOSUPPORT;
    return false;
}

int CoMulticast::getFamily() const { return group_->ss_family; }

bool CoMulticast::isIPv6() const { return group_->ss_family == AF_INET6; }

int CoMulticast::lengthOf(int family) {
    return family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

CoMulticast::CoMulticast(unsigned int port, const char* scope, const char* interfaceAddress)
    : scope_(scope != nullptr ? scope : ""),
      group_(new sockaddr_storage()),
      interface_(interfaceAddress != nullptr ? interfaceAddress : ""),
      socket_(-1),
      port_(port) {
    if (scope_.empty()) fail(__LINE__, "Empty scope", EINVAL);
    if (!resolve(scope_, *group_)) group_->ss_family = AF_INET;  // the address stays unset
    CoIoTcpDescriptor::init();
    socket_ = multicastOs::openDatagramSocket(group_->ss_family);
    if (socket_ < 0) {
        const char* family = group_->ss_family == AF_INET    ? " for IPv4"
                             : group_->ss_family == AF_INET6 ? " for IPv6"
                                                            : "";
        fail(__LINE__, std::string("Unable to create a datagram socket") + family, socketError());
    }
}

CoMulticast::~CoMulticast() {
    if (socket_ >= 0) multicastOs::closeSocket(socket_);
}

void CoMulticast::fail(int line, const std::string& message, int error) const {
    CoException(line, __FILE__).fire(message.c_str(), "%s", coOsErrorText(error).c_str());
}

void CoMulticast::setOption(int level, int name, const void* value, int size,
                            const std::string& failure) {
    if (::setsockopt(socket_, level, name, static_cast<const char*>(value), size) != 0)
        fail(__LINE__, failure, socketError());
}

void CoMulticast::getOption(int level, int name, void* value, int size,
                            const std::string& failure) const {
    socklen_t length = static_cast<socklen_t>(size);
    if (::getsockopt(socket_, level, name, static_cast<char*>(value), &length) != 0)
        fail(__LINE__, failure, socketError());
}

unsigned int CoMulticast::interfaceIndexOf(const std::string& interfaceAddress) {
    sockaddr_storage wanted = {};
    const std::string failure = "Unable to acquire network interface list";
    if (!parseNumeric(interfaceAddress, AF_INET6, wanted))
        CoException(__LINE__, __FILE__).fire(failure.c_str(), "%s", coOsErrorText(EINVAL).c_str());
    unsigned int index = 0;
    std::string error;
    if (!multicastOs::indexOfLocalAddress(reinterpret_cast<const sockaddr_in6&>(wanted).sin6_addr,
                                          index, error))
        CoException(__LINE__, __FILE__).fire(failure.c_str(), "%s", error.c_str());
    return index;
}

void CoMulticast::setMembership(bool join, const std::string& interfaceAddress) {
    int result;
    if (isIPv6()) {
        ipv6_mreq request = {};
        request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6&>(*group_).sin6_addr;
        request.ipv6mr_interface =
            interfaceAddress.empty() ? 0 : interfaceIndexOf(interfaceAddress);
        result = ::setsockopt(socket_, IPPROTO_IPV6,
                              join ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP,
                              reinterpret_cast<const char*>(&request), sizeof request);
    } else {
        ip_mreq request = {};
        request.imr_multiaddr = reinterpret_cast<const sockaddr_in&>(*group_).sin_addr;
        request.imr_interface.s_addr =
            interfaceAddress.empty() ? htonl(INADDR_ANY) : ipv4Of(interfaceAddress);
        result = ::setsockopt(socket_, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                              reinterpret_cast<const char*>(&request), sizeof request);
    }
    if (result == 0) return;
    const int error = socketError();
    if (!join) fail(__LINE__, format("Unable to leave multicast group %s", scope_), error);
    const char* hint = error == ENODEV ? "  Check the default/multicast/gateway route entry" : "";
    fail(__LINE__, format("Unable to join multicast group %s.%s", scope_, hint), error);
}

void CoMulticast::join() { setMembership(true, interface_); }

void CoMulticast::drop() { setMembership(false, interface_); }

void CoMulticast::joinOn(const std::string& interfaceAddress) {
    setMembership(true, interfaceAddress);
}

void CoMulticast::setTTL(int ttl) {
    const std::string failure =
        format("Unable to set the time-to-live to %s", std::to_string(static_cast<unsigned>(ttl)));
    if (isIPv6()) {
        const int hops = ttl;
        setOption(IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops, failure);
    } else {
        const multicastOs::ByteOption value = static_cast<multicastOs::ByteOption>(ttl);
        setOption(IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value, failure);
    }
}

int CoMulticast::getTTL() const {
    const std::string failure = "Unable to get the time-to-live";
    if (isIPv6()) {
        int hops = 0;
        getOption(IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops, failure);
        return hops;
    }
    multicastOs::ByteOption value = 0;
    getOption(IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value, failure);
    return value;
}

void CoMulticast::setLoopback(bool loopback) {
    const std::string failure = format("Unable to set loopback to %s", loopback ? "1" : "0");
    if (isIPv6()) {
        const unsigned int value = loopback ? 1 : 0;
        setOption(IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &value, sizeof value, failure);
    } else {
        const multicastOs::ByteOption value = loopback ? 1 : 0;
        setOption(IPPROTO_IP, IP_MULTICAST_LOOP, &value, sizeof value, failure);
    }
}

bool CoMulticast::willLoopback() const {
    const std::string failure = "Unable to get the loopback";
    if (isIPv6()) {
        unsigned int value = 0;
        getOption(IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &value, sizeof value, failure);
        return value != 0;
    }
    multicastOs::ByteOption value = 0;
    getOption(IPPROTO_IP, IP_MULTICAST_LOOP, &value, sizeof value, failure);
    return value != 0;
}

bool CoMulticast::tryBind(unsigned int port) {
    sockaddr_storage local = {};
    if (isIPv6()) {
        sockaddr_in6& v6 = reinterpret_cast<sockaddr_in6&>(local);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        v6.sin6_addr = in6addr_any;
    } else {
        sockaddr_in& v4 = reinterpret_cast<sockaddr_in&>(local);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        v4.sin_addr.s_addr = interface_.empty() ? htonl(INADDR_ANY) : ipv4Of(interface_);
    }
    return ::bind(socket_, reinterpret_cast<const sockaddr*>(&local),
                  lengthOf(local.ss_family)) == 0;
}

void CoMulticast::setOutgoingInterface() {
    if (interface_.empty()) return;
    const std::string failure = format("Unable to set multicast i/f to %s", interface_);
    if (isIPv6()) {
        const unsigned int index = interfaceIndexOf(interface_);
        setOption(IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index, failure);
    } else {
        in_addr address;
        address.s_addr = ipv4Of(interface_);
        setOption(IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address, failure);
    }
}

void CoMulticast::bind(bool anyPort) {
    unsigned int port = anyPort ? FIRST_ANY_PORT : port_;
    if (!anyPort) {
        const int on = 1;
        setOption(SOL_SOCKET, SO_REUSEADDR, &on, sizeof on, "Unable to set SO_REUSEADDR option");
    }
    for (;;) {
        if (tryBind(port)) {
            setOutgoingInterface();
            return;
        }
        const int error = socketError();
        if (!(anyPort && error == EADDRINUSE && port < 65535)) {
            fail(__LINE__,
                 format("Unable to bind to %s%s%llu", interface_,
                        interface_.empty() ? "port " : ",", port),
                 error);
        }
        ++port;
    }
}

void CoMulticast::send(const char* data, size_t length, const char* host, unsigned int port) {
    std::string target = host != nullptr ? host : scope_;
    if (target == "localhost" && !CoIoTcpDescriptor::getLocalIP(target)) target = "127.0.0.1";
    if (port == 0) port = port_;
    sockaddr_storage to = {};
    const bool resolved = resolve(target, to);
    const int error = errno;
    const std::string failure = format("Unable to send %s bytes to %s:%llu",
                                       std::to_string(length), target, port);
    if (!resolved) fail(__LINE__, failure, error);
    if (to.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(to).sin_port = htons(static_cast<uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in6&>(to).sin6_port = htons(static_cast<uint16_t>(port));
    if (::sendto(socket_, data, static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to),
                 lengthOf(to.ss_family)) < 0)
        fail(__LINE__, failure, socketError());
}

void CoMulticast::send(const char* data, size_t length, const sockaddr_storage& to) {
    if (::sendto(socket_, data, static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&to),
                 lengthOf(to.ss_family)) >= 0)
        return;
    const int error = socketError();
    std::string ip;
    unsigned int port = 0;
    addrToIPAndPort(to, ip, port);
    fail(__LINE__, format("Unable to send %s bytes to %s:%llu", std::to_string(length), ip, port),
         error);
}

void CoMulticast::receive(char* buffer, size_t& length, sockaddr_storage& from, bool) {
    socklen_t fromLength = static_cast<socklen_t>(lengthOf(group_->ss_family));
    std::memset(&from, 0, sizeof from);
    const long long received = ::recvfrom(socket_, buffer, static_cast<int>(length), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received >= 0) {
        length = static_cast<size_t>(received);
        return;
    }
    const int error = socketError();
    // A peer's port-unreachable answer to an earlier datagram: nothing to read, not a failure.
    if (error == ECONNRESET || error == ECONNREFUSED) {
        length = 0;
        return;
    }
    fail(__LINE__, format("Unable to receive %s bytes", std::to_string(length)), error);
}

void CoMulticast::addrToIPAndPort(const sockaddr_storage& address, std::string& ip,
                                  unsigned int& port) {
    CO_ASSERT(address.ss_family == AF_INET || address.ss_family == AF_INET6);
    char text[65] = "";
    if (address.ss_family == AF_INET) {
        const sockaddr_in& v4 = reinterpret_cast<const sockaddr_in&>(address);
        port = ntohs(v4.sin_port);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    } else {
        const sockaddr_in6& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        port = ntohs(v6.sin6_port);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
    ip = text;
}

}  // namespace Vantrel
