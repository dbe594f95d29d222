// The system calls behind CoIoDescriptor on Windows: every handle is a Winsock socket.
#include "tcp/CoIoDescriptor.h"

#include <winsock2.h>

// The Windows headers name a wait result WAIT_FAILED too; the enumerator is meant here.
#undef WAIT_FAILED

#include <cerrno>

#include "vantrel/CoMsg.h"
#include "tcp/CoOsError.h"

namespace Vantrel {

namespace {

SOCKET asSocket(int id) { return static_cast<SOCKET>(static_cast<unsigned>(id)); }

}  // namespace

// WSAPoll knows no read hang-up of its own: a peer that has closed makes the socket readable,
// and peek() tells the two apart.
CoIoDescriptor::WaitOutcome CoIoDescriptor::waitFor(int events, int timeoutMs, int& ready) const {
    WSAPOLLFD watched{};
    watched.fd = asSocket(id_);
    if (events & (WAIT_READ | WAIT_PEER_HANGUP)) watched.events |= POLLRDNORM;
    if (events & WAIT_WRITE) watched.events |= POLLWRNORM;
    const int result = WSAPoll(&watched, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (result == SOCKET_ERROR) {
        coTakeSocketError();
        return WAIT_FAILED;
    }
    if (result == 0) return WAIT_TIMED_OUT;
    if (watched.revents & POLLNVAL) {
        errno = EBADF;
        return WAIT_FAILED;
    }
    ready = 0;
    // A broken connection counts as everything that was asked for, so that the next call on
    // the handle reports why.
    const bool broken = (watched.revents & (POLLERR | POLLHUP)) != 0;
    const bool readable = (watched.revents & POLLRDNORM) != 0;
    if (readable || broken) ready |= WAIT_READ;
    if ((watched.revents & POLLWRNORM) || broken) ready |= WAIT_WRITE;
    if (readable || broken) ready |= WAIT_PEER_HANGUP;
    ready &= events;
    if (ready == 0) return WAIT_TIMED_OUT;  // nothing that was asked for
    return WAIT_READY;
}

// A socket may be in blocking mode: look whether anything is there before peeking at it.
CoIoDescriptor::PeekResult CoIoDescriptor::peek() const {
    WSAPOLLFD watched{};
    watched.fd = asSocket(id_);
    watched.events = POLLRDNORM;
    const int result = WSAPoll(&watched, 1, 0);
    if (result == SOCKET_ERROR) {
        coTakeSocketError();
        return PEEK_FAILED;
    }
    if (result == 0) return PEEK_NOTHING;
    char byte = 0;
    const int n = recv(asSocket(id_), &byte, 1, MSG_PEEK);
    if (n > 0) return PEEK_DATA;
    if (n == 0) return PEEK_CLOSED;
    const int error = coTakeSocketError();
    return error == EWOULDBLOCK ? PEEK_NOTHING : PEEK_FAILED;
}

int CoIoDescriptor::nonBlockingRead(void* buf, unsigned int size) {
    if (!isValid()) return failNotConnected(0);
    const int n = recv(asSocket(id_), static_cast<char*>(buf), static_cast<int>(size), 0);
    if (n >= 0) return n;
    coTakeSocketError();
    setLastError(IO_ERR_UNKNOWN);
    return -1;
}

int CoIoDescriptor::nonBlockingWrite(const void* buf, unsigned int size) {
    if (!isValid()) return failNotConnected(-1);
    if (size == 0) return 0;
    const int n = send(asSocket(id_), static_cast<const char*>(buf), static_cast<int>(size), 0);
    if (n > 0) return n;
    if (n == 0) {
        setLastError(IO_ERR_CONNECTION_RESET);
        return -1;
    }
    if (coTakeSocketError() == EWOULDBLOCK) return 0;
    setLastError(IO_ERR_UNKNOWN);
    return -1;
}

bool CoIoDescriptor::close() {
    if (!isValid()) return true;
    const int handle = id_;
    id_ = INVALID_ID;
    if (closesocket(asSocket(handle)) == 0) return true;
    coTakeSocketError();
    setLastError(getIoError());
    return false;
}

}  // namespace Vantrel
