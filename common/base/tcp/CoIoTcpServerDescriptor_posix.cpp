// The system calls behind CoIoTcpServerDescriptor.
#include "tcp/CoIoTcpServerDescriptor.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "tcp/CoNameResolver.h"

namespace Vantrel {

int CoIoTcpServerDescriptor::createSocket(bool ipv6) {
    const int handle = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) return errno;
    setId(handle);
    return 0;
}

int CoIoTcpServerDescriptor::bindTo(bool ipv6, int port) {
    CoSocketAddress address;
    if (!addressToBind(ipv6, port, address)) return EINVAL;
    const int result = bind(id(), address.get(), static_cast<socklen_t>(address.length()));
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
