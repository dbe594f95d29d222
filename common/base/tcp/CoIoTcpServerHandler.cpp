#include "tcp/CoIoTcpServerHandler.h"

#include <cerrno>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"

namespace Vantrel {

CoIoTcpServerHandler::CoIoTcpServerHandler(int port, int sendBufSize, int rcvBufSize,
                                           const std::string& bindAddress)
    : CoIoHandler(READ_EVENT | EXCEPTION_EVENT),
      listener_(port, sendBufSize, rcvBufSize, bindAddress) {}

CoIoTcpServerHandler::CoIoTcpServerHandler(int minPort, int maxPort, int sendBufSize,
                                           int rcvBufSize, const std::string& bindAddress)
    : CoIoHandler(READ_EVENT | EXCEPTION_EVENT),
      listener_(minPort, maxPort, sendBufSize, rcvBufSize, bindAddress) {}

CoIoTcpServerHandler::~CoIoTcpServerHandler() = default;

bool CoIoTcpServerHandler::handleRead() {
    std::string error;
    int code = 0;
    const int socket = acceptConnection(error, code);
    if (socket < 0) return acceptFailed(code, error);
    shortagePosted_ = false;
    CO_MSG_DEBUG("Connection successful.");
    CO_ASSERT_TEXT(!forkOnConnection(), "forking on connection is not supported");
    return handleSocket(socket);
}

bool CoIoTcpServerHandler::acceptFailed(int code, const std::string& error) {
    CO_MSG_DEBUG("Can't accept client connection: %s.", error.c_str());
    if (isListenerBroken(code)) return false;
    if (!isDescriptorShortage(code)) return true;  // that one connection went wrong
    if (!shortagePosted_) {
        CO_MSG_ERROR("Can't accept client connection: %s. Accepting again as descriptors "
                     "become free.", error.c_str());
        shortagePosted_ = true;
    }
    setEventMask(0);
    resumeAtMs_ = CoTime::monotonicMs() + ACCEPT_BACKOFF_MS;
    return true;
}

int CoIoTcpServerHandler::resumeAcceptingIfDue() {
    if (resumeAtMs_ == 0) return -1;
    const uint64_t now = CoTime::monotonicMs();
    if (now < resumeAtMs_) return static_cast<int>(resumeAtMs_ - now);
    resumeAtMs_ = 0;
    setEventMask(READ_EVENT | EXCEPTION_EVENT);
    return -1;
}

bool CoIoTcpServerHandler::handleSocket(int id) {
    return handleConnection(new CoIoTcpDescriptor(id));
}

bool CoIoTcpServerHandler::forkOnConnection() { return false; }

void CoIoTcpServerHandler::preForkOnConnection() {}

void CoIoTcpServerHandler::postForkOnConnection(bool) {}

// Error numbers are errno values on every platform (coTakeSocketError).
bool CoIoTcpServerHandler::isDescriptorShortage(int code) {
    return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM;
}

bool CoIoTcpServerHandler::isListenerBroken(int code) {
    return code == EBADF || code == EINVAL || code == ENOTSOCK || code == EOPNOTSUPP ||
           code == EFAULT;
}

}  // namespace Vantrel
