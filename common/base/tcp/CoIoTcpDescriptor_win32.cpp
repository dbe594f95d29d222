// The system calls behind CoIoTcpDescriptor on Windows.
#include "tcp/CoIoTcpDescriptor.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"
#include "tcp/CoNameResolver.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

SOCKET asSocket(int id) { return static_cast<SOCKET>(static_cast<unsigned>(id)); }

bool setIntOption(int handle, int level, int option, int value) {
    return setsockopt(asSocket(handle), level, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool isInProgress(int code) { return code == EWOULDBLOCK || code == EINPROGRESS || code == EINTR; }

}  // namespace

bool CoIoTcpDescriptor::openSocket(int family) {
    // Not inherited by programs this process starts: they must not keep our connections open.
    const SOCKET handle = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) {
        coTakeSocketError();
        setLastError(IO_ERR_UNKNOWN);
        return false;
    }
    setId(static_cast<int>(handle));
    return true;
}

CoIoTcpDescriptor::ConnectOutcome CoIoTcpDescriptor::startConnect(const CoSocketAddress& address) {
    if (connect(asSocket(id()), address.get(), address.length()) == 0) return CONNECT_DONE;
    if (isInProgress(coTakeSocketError())) return CONNECT_PENDING;
    setLastError(IO_ERR_UNKNOWN);
    return CONNECT_FAILED;
}

// A refused connection shows as an error on the socket (POLLERR), not as room to write.
CoIoTcpDescriptor::ConnectOutcome CoIoTcpDescriptor::pollConnect(int sliceMs) {
    WSAPOLLFD watched{};
    watched.fd = asSocket(id());
    watched.events = POLLWRNORM;
    const int result = WSAPoll(&watched, 1, sliceMs);
    if (result == SOCKET_ERROR) {
        coTakeSocketError();
        setLastError(IO_ERR_UNKNOWN);
        return CONNECT_FAILED;
    }
    if (result == 0) return CONNECT_PENDING;
    int pending = 0;
    int length = sizeof pending;
    const bool failed = (watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
                        getsockopt(asSocket(id()), SOL_SOCKET, SO_ERROR,
                                   reinterpret_cast<char*>(&pending), &length) != 0 ||
                        pending != 0;
    return failed ? CONNECT_REFUSED : CONNECT_DONE;
}

int CoIoTcpDescriptor::nonBlockingRead(void* buf, unsigned int size) {
    CO_ASSERT(isValid());
    if (size == 0) return 0;
    for (;;) {
        const int n = recv(asSocket(id()), static_cast<char*>(buf), static_cast<int>(size), 0);
        if (n > 0) return n;
        if (n == 0) {
            setLastError(IO_ERR_CONNECTION_RESET);
            return 0;
        }
        if (coTakeSocketError() == EWOULDBLOCK) {
            // Callers come here after a wait found data; should there be none after all, wait
            // for it rather than spin. A failed wait shows up in the next receive.
            int ready = 0;
            waitFor(WAIT_READ, -1, ready);
            continue;
        }
        setLastError(IO_ERR_UNKNOWN);
        return 0;
    }
}

int CoIoTcpDescriptor::nonBlockingWrite(const void* buf, unsigned int size) {
    CO_ASSERT(isValid());
    if (size == 0) return 0;
    for (;;) {
        const int n = send(asSocket(id()), static_cast<const char*>(buf), static_cast<int>(size), 0);
        if (n >= 0) return n;
        if (coTakeSocketError() == EWOULDBLOCK) {
            int ready = 0;
            waitFor(WAIT_WRITE, -1, ready);
            continue;
        }
        setLastError(IO_ERR_UNKNOWN);
        return -1;
    }
}

// Winsock has no per-call "don't wait": a socket in blocking mode is looked at first.
int CoIoTcpDescriptor::sendWithoutWaiting(const void* buf, unsigned int size) {
    CO_ASSERT(isValid());
    if (size == 0) return 0;
    int ready = 0;
    if (waitFor(WAIT_WRITE, 0, ready) != WAIT_READY) return 0;
    const int n = send(asSocket(id()), static_cast<const char*>(buf), static_cast<int>(size), 0);
    if (n >= 0) return n;
    if (coTakeSocketError() == EWOULDBLOCK) return 0;
    setLastError(IO_ERR_UNKNOWN);
    return -1;
}

void CoIoTcpDescriptor::getSocketIP(std::string& out) const {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(asSocket(id()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        coTakeSocketError();
        CO_MSG_ERROR("%s", getLastSocketErrorStr().c_str());
        return;
    }
    getSocketIP(reinterpret_cast<sockaddr*>(&address), length, out);
}

void CoIoTcpDescriptor::getPeerIP(std::string& out) const {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getpeername(asSocket(id()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        coTakeSocketError();
        CO_MSG_ERROR("%s", getLastSocketErrorStr().c_str());
        return;
    }
    getSocketIP(reinterpret_cast<sockaddr*>(&address), length, out);
}

void CoIoTcpDescriptor::getSocketIP(sockaddr* address, int length, std::string& out) const {
    std::string error;
    const int kept = std::min(std::max(length, 0), CoSocketAddress::MAX_LENGTH);
    if (!CoSocketAddress(address, kept).numericHost(out, error)) CO_MSG_ERROR("%s", error.c_str());
}

void CoIoTcpDescriptor::setNoDelaySocketOption(bool on) {
    if (!setIntOption(id(), IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0)) {
        coTakeSocketError();
        CO_MSG_DEBUG("Unable to set socket option: %s", setLastError(IO_ERR_UNKNOWN));
    }
}

bool CoIoTcpDescriptor::setNonBlocking(bool on) {
    u_long mode = on ? 1 : 0;
    if (ioctlsocket(asSocket(id()), FIONBIO, &mode) == 0) return true;
    coTakeSocketError();
    CO_MSG_DEBUG("Couldn't set socket as nonblocking: %s", setLastError(IO_ERR_UNKNOWN));
    return false;
}

void CoIoTcpDescriptor::setReuseAddressSocketOption(bool on) {
    // SO_REUSEADDR on Windows lets a second socket take a port in use; a server that rebinds
    // after a restart needs no option there.
    (void)on;
}

}  // namespace Vantrel
