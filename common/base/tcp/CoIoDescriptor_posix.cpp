// The system calls behind CoIoDescriptor.
#include "tcp/CoIoDescriptor.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vantrel/CoMsg.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

// A socket whose peer has gone reports EPIPE on a send where other systems report a reset;
// both mean the same to a caller, so both read as a reset.
int socketErrno(int code) { return code == EPIPE ? ECONNRESET : code; }

// The system error behind each kind (0: none; -1: whatever is current).
int kindToErrno(CoIoDescriptor::IoError kind) {
    switch (kind) {
        case CoIoDescriptor::IO_ERR_NONE: return 0;
        case CoIoDescriptor::IO_ERR_UNKNOWN: return -1;
        case CoIoDescriptor::IO_ERR_INTERRUPTED: return EINTR;
        case CoIoDescriptor::IO_ERR_WOULD_BLOCK: return EWOULDBLOCK;
        case CoIoDescriptor::IO_ERR_NOT_CONNECTED: return ENOTCONN;
        case CoIoDescriptor::IO_ERR_CONNECTION_ABORTED: return ECONNABORTED;
        case CoIoDescriptor::IO_ERR_CONNECTION_RESET: return ECONNRESET;
        case CoIoDescriptor::IO_ERR_TIMED_OUT: return ETIMEDOUT;
        case CoIoDescriptor::IO_ERR_CONNECTION_REFUSED: return ECONNREFUSED;
        case CoIoDescriptor::IO_ERR_HOST_NOT_FOUND: return 0;  // a resolver code, see kindText
    }
    return -1;
}

std::string kindText(CoIoDescriptor::IoError kind) {
    const int current = errno;  // before anything below can change it
    if (kind == CoIoDescriptor::IO_ERR_NONE) return std::string();
    if (kind == CoIoDescriptor::IO_ERR_HOST_NOT_FOUND)
        return coOsErrorText(EAI_NONAME, CoErrorSource::RESOLVER);
    const int code = kindToErrno(kind);
    return coOsErrorText(code == -1 ? socketErrno(current) : code);
}

}  // namespace

CoIoDescriptor::IoError CoIoDescriptor::getIoError() {
    const int code = socketErrno(errno);
    switch (code) {
        case 0: return IO_ERR_NONE;
        case EINTR: return IO_ERR_INTERRUPTED;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EINPROGRESS: return IO_ERR_WOULD_BLOCK;
        case ENOTCONN: return IO_ERR_NOT_CONNECTED;
        case ECONNABORTED: return IO_ERR_CONNECTION_ABORTED;
        case ECONNRESET: return IO_ERR_CONNECTION_RESET;
        case ETIMEDOUT: return IO_ERR_TIMED_OUT;
        case ECONNREFUSED: return IO_ERR_CONNECTION_REFUSED;
        default: break;
    }
    CO_MSG_NOTICE("Unexpected WinSock error: %x", static_cast<unsigned int>(code));
    errno = code;  // posting may have changed it; callers still want the text
    return IO_ERR_UNKNOWN;
}

void CoIoDescriptor::getIoError(IoError kind, char* buf, int size) {
    if (buf == nullptr || size <= 0) return;
    std::snprintf(buf, static_cast<std::size_t>(size), "%s", kindText(kind).c_str());
}

CoIoDescriptor::WaitOutcome CoIoDescriptor::waitFor(int events, int timeoutMs, int& ready) const {
    pollfd watched{};
    watched.fd = id_;
    if (events & WAIT_READ) watched.events |= POLLIN;
    if (events & WAIT_WRITE) watched.events |= POLLOUT;
    if (events & WAIT_PEER_HANGUP) watched.events |= POLLRDHUP;
    const int result = poll(&watched, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (result < 0) return WAIT_FAILED;
    if (result == 0) return WAIT_TIMED_OUT;
    if (watched.revents & POLLNVAL) {
        errno = EBADF;
        return WAIT_FAILED;
    }
    ready = 0;
    // A broken connection counts as everything that was asked for, so that the next call on
    // the handle reports why.
    const bool broken = (watched.revents & (POLLERR | POLLHUP)) != 0;
    if ((watched.revents & POLLIN) || broken) ready |= WAIT_READ;
    if ((watched.revents & POLLOUT) || broken) ready |= WAIT_WRITE;
    if ((watched.revents & POLLRDHUP) || broken) ready |= WAIT_PEER_HANGUP;
    ready &= events;
    if (ready == 0) return WAIT_TIMED_OUT;  // nothing that was asked for
    return WAIT_READY;
}

bool CoIoDescriptor::takeWaitFailure() {
    if (getIoError() == IO_ERR_INTERRUPTED) return true;
    setLastError(IO_ERR_UNKNOWN);
    return false;
}

CoIoDescriptor::PeekResult CoIoDescriptor::peek() const {
    for (;;) {
        char byte = 0;
        const ssize_t n = recv(id_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) return PEEK_DATA;
        if (n == 0) return PEEK_CLOSED;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return PEEK_NOTHING;
        return PEEK_FAILED;
    }
}

int CoIoDescriptor::nonBlockingRead(void* buf, unsigned int size) {
    if (!isValid()) return failNotConnected(0);
    for (;;) {
        const ssize_t n = read(id_, buf, size);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        setLastError(IO_ERR_UNKNOWN);
        return -1;
    }
}

int CoIoDescriptor::nonBlockingWrite(const void* buf, unsigned int size) {
    if (!isValid()) return failNotConnected(-1);
    if (size == 0) return 0;
    bool isSocket = true;
    for (;;) {
        // A send never raises SIGPIPE; plain files and pipes take the ordinary write.
        ssize_t n = isSocket ? send(id_, buf, size, MSG_NOSIGNAL) : write(id_, buf, size);
        if (n < 0 && isSocket && errno == ENOTSOCK) {
            isSocket = false;
            continue;
        }
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            setLastError(IO_ERR_CONNECTION_RESET);
            return -1;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        setLastError(IO_ERR_UNKNOWN);
        return -1;
    }
}

bool CoIoDescriptor::close() {
    if (!isValid()) return true;
    const int handle = id_;
    // The handle is released whatever close() answers: on this system even an interrupted
    // close has freed it, and closing it again could hit a handle opened meanwhile elsewhere.
    id_ = INVALID_ID;
    if (::close(handle) == 0 || errno == EINTR) return true;
    setLastError(getIoError());
    return false;
}

bool CoIoDescriptor::isActive() {
    if (!isValid()) {
        setLastError(IO_ERR_NOT_CONNECTED);
        return false;
    }
    switch (peek()) {
        case PEEK_DATA:
        case PEEK_NOTHING: return true;
        case PEEK_CLOSED: setLastError(IO_ERR_CONNECTION_RESET); return false;
        case PEEK_FAILED: break;
    }
    CO_MSG_DEBUG("%s", setLastError(IO_ERR_UNKNOWN));
    return false;
}

namespace {

bool setBufferSize(int handle, int option, int size) {
    return setsockopt(handle, SOL_SOCKET, option, &size, sizeof size) == 0;
}

}  // namespace

void CoIoDescriptor::setSendBufferSizeSocketOption(int size) {
    if (!setBufferSize(id_, SO_SNDBUF, size))
        CO_MSG_DEBUG("Can't set socket option: '%s'.", setLastError(IO_ERR_UNKNOWN));
}

void CoIoDescriptor::setReceiveBufferSizeSocketOption(int size) {
    if (!setBufferSize(id_, SO_RCVBUF, size))
        CO_MSG_DEBUG("Can't set socket option: '%s'.", setLastError(IO_ERR_UNKNOWN));
}

}  // namespace Vantrel
