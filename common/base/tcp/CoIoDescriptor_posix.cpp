// The system calls behind CoIoDescriptor on Linux.
#include "tcp/CoIoDescriptor.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "vantrel/CoMsg.h"
#include "tcp/CoOsError.h"

namespace Vantrel {

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

}  // namespace Vantrel
