// The system call behind CoIoTcpServerHandler on Windows.
#include "tcp/CoIoTcpServerHandler.h"

#include <winsock2.h>

#include <cerrno>

#include "tcp/CoOsError.h"

namespace Vantrel {

int CoIoTcpServerHandler::acceptConnection(std::string& error, int& code) {
    sockaddr_storage peer{};
    int length = sizeof peer;
    const SOCKET listener = static_cast<SOCKET>(static_cast<unsigned>(listener_.id()));
    const SOCKET socket = accept(listener, reinterpret_cast<sockaddr*>(&peer), &length);
    if (socket == INVALID_SOCKET) {
        code = coTakeSocketError();
        error = coCurrentOsErrorText();
        return -1;
    }
    // Accepted sockets take the listener's mode; these are used without blocking.
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    return static_cast<int>(socket);
}

}  // namespace Vantrel
