#include "tcp/CoIoTcpServerHandler.h"

#include "loggerBase/CoMsg.h"
#include "osal/CoAssert.h"

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
    const int socket = acceptConnection(error);
    if (socket < 0) {
        CO_MSG_DEBUG("Can't accept client connection: %s.", error.c_str());
        return false;
    }
    CO_MSG_DEBUG("Connection successful.");
    CO_ASSERT_TEXT(!forkOnConnection(), "forking on connection is not supported");
    return handleSocket(socket);
}

bool CoIoTcpServerHandler::handleSocket(int id) {
    return handleConnection(new CoIoTcpDescriptor(id));
}

bool CoIoTcpServerHandler::forkOnConnection() { return false; }

void CoIoTcpServerHandler::preForkOnConnection() {}

void CoIoTcpServerHandler::postForkOnConnection(bool) {}

}  // namespace Vantrel
