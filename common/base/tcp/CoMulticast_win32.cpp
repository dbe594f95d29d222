#include <winsock2.h>
#include <iphlpapi.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

#include "tcp/CoMulticastOs.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace multicastOs {

int openDatagramSocket(int family) {
    const SOCKET handle = WSASocketW(family, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) return -1;
    // A port-unreachable answer to an earlier datagram would otherwise fail every later
    // receive with a reset.
    BOOL reportReset = FALSE;
    DWORD returned = 0;
    WSAIoctl(handle, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned,
             nullptr, nullptr);
    return static_cast<int>(handle);
}

void closeSocket(int socket) { closesocket(static_cast<SOCKET>(static_cast<unsigned>(socket))); }

bool indexOfLocalAddress(const in6_addr& address, unsigned int& index, std::string& error) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(AF_INET6, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST,
                                      nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR && result != ERROR_NO_DATA) {
        error = coOsErrorText(static_cast<int>(result));
        return false;
    }
    index = 0;
    if (result == ERROR_NO_DATA) return true;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr && index == 0; adapter = adapter->Next) {
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr* local = unicast->Address.lpSockaddr;
            if (local == nullptr || local->sa_family != AF_INET6) continue;
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(local);
            if (std::memcmp(&v6->sin6_addr, &address, sizeof address) == 0) {
                index = adapter->Ipv6IfIndex;
                break;
            }
        }
    }
    return true;
}

}  // namespace multicastOs
}  // namespace Vantrel
