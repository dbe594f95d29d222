// The system calls behind CoIoTcpDescriptor.
#include "tcp/CoIoTcpDescriptor.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"
#include "tcp/CoNameResolver.h"

namespace Vantrel {
namespace {

bool setIntOption(int handle, int level, int option, int value) {
    return setsockopt(handle, level, option, &value, sizeof value) == 0;
}

bool isInProgress(int code) {
    return code == EINPROGRESS || code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

}  // namespace

bool CoIoTcpDescriptor::openSocket(int family) {
    // Not inherited by programs this process starts: they must not keep our connections open.
    const int handle = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        setLastError(IO_ERR_UNKNOWN);
        return false;
    }
    setId(handle);
    return true;
}

CoIoTcpDescriptor::ConnectOutcome CoIoTcpDescriptor::startConnect(const CoSocketAddress& address) {
    if (connect(id(), address.get(), static_cast<socklen_t>(address.length())) == 0)
        return CONNECT_DONE;
    // An interrupted connect goes on in the background, like one in progress.
    if (isInProgress(errno)) return CONNECT_PENDING;
    setLastError(IO_ERR_UNKNOWN);
    return CONNECT_FAILED;
}

// A refused connection shows as an error on the socket (POLLERR), not as room to write.
CoIoTcpDescriptor::ConnectOutcome CoIoTcpDescriptor::pollConnect(int sliceMs) {
    pollfd watched{};
    watched.fd = id();
    watched.events = POLLOUT;
    const int result = poll(&watched, 1, sliceMs);
    if (result < 0 && errno == EINTR) return CONNECT_PENDING;
    if (result < 0) {
        setLastError(IO_ERR_UNKNOWN);
        return CONNECT_FAILED;
    }
    if (result == 0) return CONNECT_PENDING;
    int pending = 0;
    socklen_t length = sizeof pending;
    const bool failed = (watched.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
                        getsockopt(id(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0 ||
                        pending != 0;
    return failed ? CONNECT_REFUSED : CONNECT_DONE;
}

int CoIoTcpDescriptor::nonBlockingRead(void* buf, unsigned int size) {
    CO_ASSERT(isValid());
    if (size == 0) return 0;
    for (;;) {
        const ssize_t n = recv(id(), buf, size, 0);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            setLastError(IO_ERR_CONNECTION_RESET);
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
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
        // MSG_NOSIGNAL: a peer that has gone must give an error here, not a SIGPIPE that ends
        // the process.
        const ssize_t n = send(id(), buf, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            int ready = 0;
            waitFor(WAIT_WRITE, -1, ready);
            continue;
        }
        setLastError(IO_ERR_UNKNOWN);
        return -1;
    }
}

int CoIoTcpDescriptor::sendWithoutWaiting(const void* buf, unsigned int size) {
    CO_ASSERT(isValid());
    if (size == 0) return 0;
    for (;;) {
        const ssize_t n = send(id(), buf, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        setLastError(IO_ERR_UNKNOWN);
        return -1;
    }
}

void CoIoTcpDescriptor::getSocketIP(std::string& out) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(id(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CO_MSG_ERROR("%s", getLastSocketErrorStr().c_str());
        return;
    }
    getSocketIP(reinterpret_cast<sockaddr*>(&address), static_cast<int>(length), out);
}

void CoIoTcpDescriptor::getPeerIP(std::string& out) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(id(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CO_MSG_ERROR("%s", getLastSocketErrorStr().c_str());
        return;
    }
    getSocketIP(reinterpret_cast<sockaddr*>(&address), static_cast<int>(length), out);
}

void CoIoTcpDescriptor::getSocketIP(sockaddr* address, int length, std::string& out) const {
    std::string error;
    const int kept = std::min(std::max(length, 0), CoSocketAddress::MAX_LENGTH);
    if (!CoSocketAddress(address, kept).numericHost(out, error)) CO_MSG_ERROR("%s", error.c_str());
}

void CoIoTcpDescriptor::setNoDelaySocketOption(bool on) {
    if (!setIntOption(id(), IPPROTO_TCP, TCP_NODELAY, on ? 1 : 0))
        CO_MSG_DEBUG("Unable to set socket option: %s", setLastError(IO_ERR_UNKNOWN));
}

bool CoIoTcpDescriptor::setNonBlocking(bool on) {
    const int flags = fcntl(id(), F_GETFL);
    if (flags >= 0 && fcntl(id(), F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0)
        return true;
    CO_MSG_DEBUG("Couldn't set socket as nonblocking: %s", setLastError(IO_ERR_UNKNOWN));
    return false;
}

void CoIoTcpDescriptor::setReuseAddressSocketOption(bool on) {
    if (!setIntOption(id(), SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0))
        CO_MSG_DEBUG("Can't set socket option: '%s'.", getLastSocketErrorStr().c_str());
}

}  // namespace Vantrel
