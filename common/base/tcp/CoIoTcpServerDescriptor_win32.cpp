// The system calls behind CoIoTcpServerDescriptor on Windows.
#include "tcp/CoIoTcpServerDescriptor.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>

#include "tcp/CoNameResolver.h"
#include "tcp/CoOsError.h"

namespace Vantrel {

namespace {

SOCKET asSocket(int id) { return static_cast<SOCKET>(static_cast<unsigned>(id)); }

}  // namespace

int CoIoTcpServerDescriptor::createSocket(bool ipv6) {
    // Not inherited by programs this process starts: they must not keep our listener open.
    const SOCKET handle = WSASocketW(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr,
                                     0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) return coTakeSocketError();
    // A second listener on the same port must fail as it does elsewhere.
    BOOL exclusive = TRUE;
    setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    // Windows makes IPv6 sockets IPv6-only; a listener on "::" takes IPv4 peers too, as on
    // Linux (else a peer that connects over IPv4, an event server for one, is refused).
    if (ipv6) {
        DWORD v6only = 0;
        setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6only),
                   sizeof v6only);
    }
    setId(static_cast<int>(handle));
    return 0;
}

int CoIoTcpServerDescriptor::bindTo(bool ipv6, int port) {
    CoSocketAddress address;
    if (!addressToBind(ipv6, port, address)) return EINVAL;
    const int result = bind(asSocket(id()), address.get(), address.length());
    return result == 0 ? 0 : coTakeSocketError();
}

int CoIoTcpServerDescriptor::readBoundPort(int& port) const {
    sockaddr_storage address{};
    int length = sizeof address;
    if (getsockname(asSocket(id()), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return coTakeSocketError();
    const u_short networkPort = address.ss_family == AF_INET6
                                    ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                    : reinterpret_cast<const sockaddr_in&>(address).sin_port;
    port = ntohs(networkPort);
    return 0;
}

int CoIoTcpServerDescriptor::listenOn(int backlog) {
    return listen(asSocket(id()), backlog) == 0 ? 0 : coTakeSocketError();
}

}  // namespace Vantrel
