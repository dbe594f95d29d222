#include "tcp/CoIoTcpDescriptor.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "osal/CoEnvSettings.h"
#include "osal/CoTime.h"
#include "tcp/CoNameResolver.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

std::atomic<bool> debugSwitch{coEnvExists("ZR_TCP_DEBUG")};
std::atomic<bool> socketLayerStarted{false};

std::string kindText(CoIoDescriptor::IoError kind) {
    char text[256];
    CoIoDescriptor::getIoError(kind, text, sizeof text);
    return text;
}

[[noreturn]] void throwText(const std::string& text, int line) {
    throw CoException(text.c_str(), line, __FILE__);
}

bool isUsableAddress(const CoSocketAddress& address, const std::string& text) {
    if (address.isIPv6()) return text.compare(0, 4, "fe80") != 0 && text != "::1";
    return text != "127.0.0.1";
}

bool isDottedNumber(const std::string& name) {
    return name.find_first_not_of("0123456789.") == std::string::npos;
}

// The local address and when it was looked up. The lookup runs under the lock, so threads
// asking at the same time share one lookup instead of racing to refill the cache.
class LocalAddressCache {
public:
    static constexpr uint64_t LIFETIME_MS = 60 * 1000;

    template <class Lookup>
    std::string get(Lookup lookup) {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t now = CoTime::monotonicMs();
        if (!filled_ || now - refreshedMs_ >= LIFETIME_MS) {
            address_ = lookup();  // a throw leaves the cache as it was
            refreshedMs_ = now;
            filled_ = true;
        }
        return address_;
    }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        filled_ = false;
    }

private:
    std::mutex mutex_;
    std::string address_;      // guarded by mutex_
    uint64_t refreshedMs_ = 0;  // guarded by mutex_
    bool filled_ = false;       // guarded by mutex_
};

LocalAddressCache& localAddressCache() {
    static LocalAddressCache cache;
    return cache;
}

// The shape of the bool twins of the throwing lookups.
template <class Lookup, class Report>
bool lookupInto(std::string& out, Lookup lookup, Report reportFailure) {
    try {
        out = lookup();
        return true;
    } catch (const CoException& e) {
        reportFailure(e.what());
        return false;
    }
}

}  // namespace

CoIoTcpDescriptor::CoIoTcpDescriptor() = default;

CoIoTcpDescriptor::CoIoTcpDescriptor(int id) { setId(id); }

CoIoTcpDescriptor::CoIoTcpDescriptor(const char* remoteHost, int port, int sendBufSize,
                                     int rcvBufSize, int connectionTimeout,
                                     const std::atomic<bool>* abandon) {
    CO_ASSERT(remoteHost != nullptr);
    CO_ASSERT(port >= 0 && sendBufSize >= 0 && rcvBufSize >= 0 && connectionTimeout >= 0);
    init();
    const std::string service = std::to_string(port);
    if (debugEnabled()) CO_MSG_DEBUG("Calling getaddrinfo( %s, %s ).", remoteHost, service.c_str());
    std::vector<CoSocketAddress> addresses;
    std::string error;
    // A port that does not fit in 16 bits would be cut to another port by the system.
    if (port > 65535 ||
        !CoNameResolver::current().resolve(remoteHost, service.c_str(), addresses, error) ||
        addresses.empty()) {
        setLastError(IO_ERR_HOST_NOT_FOUND);
        return;
    }
    for (const CoSocketAddress& address : addresses) {
        if (connectTo(address, remoteHost, port, sendBufSize, rcvBufSize, connectionTimeout,
                      abandon) ||
            isAbandoned(abandon))
            return;
    }
}

CoIoTcpDescriptor::~CoIoTcpDescriptor() { close(); }

bool CoIoTcpDescriptor::connectTo(const CoSocketAddress& address, const char* host, int port,
                                  int sendBufSize, int rcvBufSize, int connectionTimeout,
                                  const std::atomic<bool>* abandon) {
    setLastError("");
    if (debugEnabled()) {
        CO_MSG_DEBUG("Trying family %d with addr (len %d):", address.family(), address.length());
        CO_MSG_DEBUG("%s", address.hexBytes().c_str());
    }
    if (!openSocket(address.family())) return false;
    setNoDelaySocketOption(true);
    if (sendBufSize > 0) setSendBufferSizeSocketOption(sendBufSize);
    if (rcvBufSize > 0) setReceiveBufferSizeSocketOption(rcvBufSize);
    ConnectOutcome outcome = setNonBlocking(true) ? startConnect(address) : CONNECT_FAILED;
    if (outcome == CONNECT_PENDING) outcome = finishConnect(connectionTimeout, abandon);
    if (outcome == CONNECT_DONE) {
        // An option that could not be set was posted; it does not make the connection fail.
        setLastError("");
        CO_MSG_DEBUG("Connected to %s:%d [fd:%d]", host, port, id());
        return true;
    }
    if (outcome == CONNECT_TIMED_OUT) setLastError(IO_ERR_TIMED_OUT);
    if (outcome == CONNECT_REFUSED) setLastError(IO_ERR_CONNECTION_REFUSED);
    closeKeepingError();
    return false;
}

void CoIoTcpDescriptor::init() {
    // The system's socket library is started once per process and stays started: sockets made
    // before an uninit() must keep working.
    static const bool started = coStartSocketLibrary();
    socketLayerStarted = started;
}

void CoIoTcpDescriptor::uninit() { socketLayerStarted = false; }

bool CoIoTcpDescriptor::debugEnabled() { return debugSwitch; }

void CoIoTcpDescriptor::reloadEnvironment() { debugSwitch = coEnvExists("ZR_TCP_DEBUG"); }

std::string CoIoTcpDescriptor::getLastSocketErrorStr() { return kindText(IO_ERR_UNKNOWN); }

std::string CoIoTcpDescriptor::getHostName() {
    init();
    std::string name;
    std::string error;
    if (!CoNameResolver::current().localHostName(name, error)) throwText(error, __LINE__);
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos && name.compare(dot, 6, ".local") != 0) name.resize(dot);
    return name;
}

std::string CoIoTcpDescriptor::getIpAddrFromHostName(const char* name) {
    CO_ASSERT(name != nullptr);
    if (debugEnabled()) CO_MSG_DEBUG("Calling getaddrinfo( %s ).", name);
    std::vector<CoSocketAddress> addresses;
    std::string error;
    if (!CoNameResolver::current().resolve(name, nullptr, addresses, error))
        throwText(error, __LINE__);
    for (const CoSocketAddress& address : addresses) {
        std::string text;
        if (address.numericHost(text, error) && isUsableAddress(address, text)) return text;
    }
    throwText(kindText(IO_ERR_HOST_NOT_FOUND), __LINE__);
}

std::string CoIoTcpDescriptor::getHostNameFromIpAddr(const char* addr, bool nameRequired) {
    CO_ASSERT(addr != nullptr);
    if (debugEnabled()) CO_MSG_DEBUG("Calling getaddrinfo( %s ).", addr);
    std::vector<CoSocketAddress> addresses;
    std::string error;
    if (!CoNameResolver::current().resolve(addr, nullptr, addresses, error)) return std::string();
    for (const CoSocketAddress& address : addresses) {
        std::string name;
        if (CoNameResolver::current().hostNameOf(address, nameRequired, name, error)) return name;
    }
    throwText(kindText(IO_ERR_HOST_NOT_FOUND), __LINE__);
}

std::string CoIoTcpDescriptor::getLocalIP() {
    return localAddressCache().get([] { return getIpAddrFromHostName(getHostName().c_str()); });
}

void CoIoTcpDescriptor::resetCachedValues() { localAddressCache().reset(); }

void CoIoTcpDescriptor::makeDisplayableHostName(std::string& name) {
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos && !isDottedNumber(name)) name.resize(dot);
}

bool CoIoTcpDescriptor::getHostName(std::string& out) {
    return lookupInto(out, [] { return getHostName(); }, [](const char* why) {
        CO_MSG_DEBUG("Could not get host name: %s", why);
    });
}

bool CoIoTcpDescriptor::getIpAddrFromHostName(const char* name, std::string& out) {
    return lookupInto(out, [name] { return getIpAddrFromHostName(name); }, [name](const char* why) {
        CO_MSG_DEBUG("Could not resolve '%s': %s", name, why);
    });
}

bool CoIoTcpDescriptor::getHostNameFromIpAddr(const char* addr, std::string& out,
                                              bool nameRequired) {
    return lookupInto(
        out, [addr, nameRequired] { return getHostNameFromIpAddr(addr, nameRequired); },
        [addr](const char* why) {
            CO_MSG_DEBUG("Could not get host name of '%s': %s", addr, why);
        });
}

bool CoIoTcpDescriptor::getLocalIP(std::string& out) {
    return lookupInto(out, [] { return getLocalIP(); }, [](const char* why) {
        CO_MSG_DEBUG("Could not get host IP: %s", why);
    });
}

CoIoTcpDescriptor::ConnectOutcome CoIoTcpDescriptor::finishConnect(
    int timeoutSeconds, const std::atomic<bool>* abandon) {
    const uint64_t deadline = CoTime::monotonicMs() + static_cast<uint64_t>(timeoutSeconds) * 1000;
    for (;;) {
        if (isAbandoned(abandon)) {
            setLastError(IO_ERR_CONNECTION_ABORTED);
            return CONNECT_FAILED;
        }
        const uint64_t now = CoTime::monotonicMs();
        const uint64_t left = deadline > now ? deadline - now : 0;
        const uint64_t slice = abandon != nullptr ? std::min<uint64_t>(left, CONNECT_POLL_MS) : left;
        const ConnectOutcome outcome =
            pollConnect(static_cast<int>(std::min<uint64_t>(slice, INT_MAX)));
        if (outcome != CONNECT_PENDING) return outcome;
        if (CoTime::monotonicMs() >= deadline) return CONNECT_TIMED_OUT;
    }
}

}  // namespace Vantrel
