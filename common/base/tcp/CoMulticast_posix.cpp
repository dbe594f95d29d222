#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <cstring>

#include "tcp/CoMulticastOs.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace multicastOs {

int openDatagramSocket(int family) { return ::socket(family, SOCK_DGRAM, 0); }

void closeSocket(int socket) { ::close(socket); }

bool indexOfLocalAddress(const in6_addr& address, unsigned int& index, std::string& error) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        error = coCurrentOsErrorText();
        return false;
    }
    index = 0;
    for (const ifaddrs* entry = list; entry != nullptr && index == 0; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6) continue;
        const sockaddr_in6* local = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        if (std::memcmp(&local->sin6_addr, &address, sizeof address) == 0)
            index = if_nametoindex(entry->ifa_name);
    }
    freeifaddrs(list);
    return true;
}

}  // namespace multicastOs
}  // namespace Vantrel
