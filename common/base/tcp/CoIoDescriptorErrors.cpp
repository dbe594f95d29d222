// The error kinds of CoIoDescriptor and its socket options: the same on every platform, since
// the platform files leave the socket error in errno (coTakeSocketError).
#include "tcp/CoIoDescriptor.h"

#include <cerrno>
#include <cstdio>

#include "vantrel/CoMsg.h"
#include "tcp/CoOsError.h"
#include "tcp/CoSocketApi.h"

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

bool CoIoDescriptor::takeWaitFailure() {
    if (getIoError() == IO_ERR_INTERRUPTED) return true;
    setLastError(IO_ERR_UNKNOWN);
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
    return setsockopt(handle, SOL_SOCKET, option, reinterpret_cast<const char*>(&size),
                      sizeof size) == 0;
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
