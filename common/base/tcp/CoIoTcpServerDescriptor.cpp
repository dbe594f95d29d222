#include "tcp/CoIoTcpServerDescriptor.h"

#include <algorithm>
#include <climits>
#include <cerrno>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "osal/CoEnvSettings.h"
#include "tcp/CoNameResolver.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

constexpr int FIRST_DYNAMIC_PORT = 49152;
constexpr int LAST_PORT = 65535;
// As many pending connections as the system allows: it caps the number at its own maximum
// (net.core.somaxconn), so a burst of clients is not turned away while the loop is busy.
constexpr int LISTEN_BACKLOG = INT_MAX;
constexpr int SYSTEM_CHOSEN = 0;  // binding port 0 lets the system pick

struct ProtocolSwitches {
    bool ipv4Disabled;
    bool ipv6Disabled;
};

ProtocolSwitches readProtocolSwitches() {
    return {coEnvExists("ZR_TCP_DISABLE_IPV4"), coEnvExists("ZR_TCP_DISABLE_IPV6")};
}

// Set at load and by reloadEnvironment(), both before listening sockets are made.
ProtocolSwitches protocolSwitches = readProtocolSwitches();

// The families a bind address allows: a numeric address only its own; the wildcard (empty)
// both. A text that is no numeric address allows both too, so that it reaches bind() and fails
// there like any other address the system cannot bind.
ProtocolSwitches familiesRuledOutBy(const std::string& bindAddress) {
    CoSocketAddress numeric;
    if (bindAddress.empty() || !CoSocketAddress::fromNumeric(bindAddress.c_str(), 0, numeric))
        return {false, false};
    return {numeric.isIPv6(), !numeric.isIPv6()};
}

}  // namespace

CoIoTcpServerDescriptor::CoIoTcpServerDescriptor(int port, int sendBufSize, int rcvBufSize,
                                                 const std::string& bindAddress)
    : port_(-1), bindAddress_(bindAddress) {
    initPort(port, sendBufSize, rcvBufSize, -1, -1);
}

CoIoTcpServerDescriptor::CoIoTcpServerDescriptor(int minPort, int maxPort, int sendBufSize,
                                                 int rcvBufSize, const std::string& bindAddress)
    : port_(-1), bindAddress_(bindAddress) {
    if (minPort <= 0) {
        fail(EINVAL);
        return;
    }
    initPort(-1, sendBufSize, rcvBufSize, minPort, maxPort);
}

CoIoTcpServerDescriptor::~CoIoTcpServerDescriptor() { close(); }

void CoIoTcpServerDescriptor::reloadEnvironment() {
    protocolSwitches = readProtocolSwitches();
    CoIoTcpDescriptor::reloadEnvironment();
}

bool CoIoTcpServerDescriptor::fail(int code) {
    setLastError(coOsErrorText(code).c_str());
    port_ = -1;
    return false;
}

void CoIoTcpServerDescriptor::initPort(int port, int sendBufSize, int rcvBufSize, int minPort,
                                       int maxPort) {
    const ProtocolSwitches byAddress = familiesRuledOutBy(bindAddress_);
    const bool ipv4 = !protocolSwitches.ipv4Disabled && !byAddress.ipv4Disabled;
    const bool ipv6 = !protocolSwitches.ipv6Disabled && !byAddress.ipv6Disabled;
    if (!ipv4 && !ipv6) {
        setLastError("No protocol available");
        port_ = -1;
    } else if (ipv4) {
        initPort(port, sendBufSize, rcvBufSize, minPort, maxPort, false, ipv6);
    } else {
        initPort(port, sendBufSize, rcvBufSize, minPort, maxPort, true, false);
    }
}

bool CoIoTcpServerDescriptor::initPort(int port, int sendBufSize, int rcvBufSize, int minPort,
                                       int maxPort, bool ipv6, bool fallback) {
    port_ = -1;
    try {
        init();
    } catch (const CoException& e) {
        setLastError(e.what());
        return false;
    }
    const int rangeStart = minPort == -1 ? FIRST_DYNAMIC_PORT : minPort;
    const int rangeEnd = std::min(maxPort == -1 ? LAST_PORT : maxPort, LAST_PORT);
    const bool systemChosen = port == -1 && minPort == -1 && maxPort == -1;
    const bool searching = systemChosen || (port < 0 && rangeEnd > rangeStart);
    const int firstPort = systemChosen ? SYSTEM_CHOSEN
                          : port < -1  ? -port
                          : port == -1 ? rangeStart
                                       : port;
    // Port 0 asks for nothing; a port beyond 16 bits would be cut by the system to another one.
    if (port == 0 || (!systemChosen && (firstPort < 1 || firstPort > LAST_PORT)))
        return fail(EINVAL);

    if (const int error = createSocket(ipv6)) {
        CO_MSG_DEBUG("Could not create IPv%c socket on port '%d'", ipv6 ? '6' : '4', firstPort);
        if (fallback)
            return initPort(port, sendBufSize, rcvBufSize, minPort, maxPort, !ipv6, false);
        return fail(error);
    }
    setReuseAddressSocketOption(!searching);
    setNoDelaySocketOption(true);
    if (!setNonBlocking(true)) {
        closeKeepingError();
        return false;
    }
    if (sendBufSize > 0) setSendBufferSizeSocketOption(sendBufSize);
    if (rcvBufSize > 0) setReceiveBufferSizeSocketOption(rcvBufSize);

    int tried = firstPort;
    int error = bindTo(ipv6, tried);
    while (error == EADDRINUSE && searching && !systemChosen && tried < rangeEnd)
        error = bindTo(ipv6, ++tried);
    if (error != 0) {
        if (fallback && error == EADDRNOTAVAIL) {
            close();
            const int samePort = systemChosen ? -1 : tried;
            return initPort(samePort, sendBufSize, rcvBufSize, minPort, maxPort, !ipv6, false);
        }
        setLastError(coOsErrorText(error).c_str());
        CO_MSG_DEBUG("Could not bind to port '%d' [fd:%d]", tried, id());
        closeKeepingError();
        return false;
    }

    int bound = tried;
    if (systemChosen) {
        if (const int failure = readBoundPort(bound)) {
            CO_MSG_DEBUG("Could not retrieve bound socket name");
            setLastError(coOsErrorText(failure).c_str());
            closeKeepingError();
            return false;
        }
    }
    if (const int failure = listenOn(LISTEN_BACKLOG)) {
        CO_MSG_DEBUG("Could not listen on port '%d' [fd:%d]", bound, id());
        setLastError(coOsErrorText(failure).c_str());
        closeKeepingError();
        return false;
    }
    port_ = bound;
    const bool ipv4Enabled = !protocolSwitches.ipv4Disabled;
    CO_MSG_DEBUG("Listening for%s%s%straffic on %d [fd:%d]", ipv4Enabled ? " IPv4" : " ",
                 ipv4Enabled && ipv6 ? "/" : "", ipv6 ? "IPv6 " : " ", port_, id());
    return true;
}

bool CoIoTcpServerDescriptor::addressToBind(bool ipv6, int port,
                                            CoSocketAddress& address) const {
    if (!bindAddress_.empty())
        return CoSocketAddress::fromNumeric(bindAddress_.c_str(), port, address) &&
               address.isIPv6() == ipv6;
    CoSocketAddress::fromNumeric(ipv6 ? "::" : "0.0.0.0", port, address);
    return true;
}

}  // namespace Vantrel
