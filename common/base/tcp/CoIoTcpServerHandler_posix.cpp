// The system call behind CoIoTcpServerHandler.
#include "tcp/CoIoTcpServerHandler.h"

#include <sys/socket.h>

#include <cerrno>

#include "tcp/CoOsError.h"

namespace Vantrel {

int CoIoTcpServerHandler::acceptConnection(std::string& error, int& code) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    for (;;) {
        // Accepted sockets do not inherit non-blocking mode here: ask for it at once.
        const int socket = accept4(listener_.id(), reinterpret_cast<sockaddr*>(&peer), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket >= 0) return socket;
        if (errno == EINTR) continue;
        code = errno;
        error = coCurrentOsErrorText();
        return -1;
    }
}

}  // namespace Vantrel
