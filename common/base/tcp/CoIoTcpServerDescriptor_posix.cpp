// The system calls behind CoIoTcpServerDescriptor.
#include "tcp/CoIoTcpServerDescriptor.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace Vantrel {

int CoIoTcpServerDescriptor::createSocket(bool ipv6) {
    const int handle = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) return errno;
    setId(handle);
    return 0;
}

int CoIoTcpServerDescriptor::bindTo(bool ipv6, int port) {
    int result = 0;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(static_cast<uint16_t>(port));
        result = bind(id(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(static_cast<uint16_t>(port));
        result = bind(id(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    return result == 0 ? 0 : errno;
}

int CoIoTcpServerDescriptor::readBoundPort(int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(id(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return errno;
    const uint16_t networkPort = address.ss_family == AF_INET6
                                     ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                     : reinterpret_cast<const sockaddr_in&>(address).sin_port;
    port = ntohs(networkPort);
    return 0;
}

int CoIoTcpServerDescriptor::listenOn(int backlog) {
    return listen(id(), backlog) == 0 ? 0 : errno;
}

}  // namespace Vantrel
