#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "vantrel/CoMsg.h"
#include "network/CoDefaultRoute.h"
#include "network/CoInterfaceEnumerator.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

const char IPV4_ROUTES[] = "/proc/net/route";
const char IPV6_ROUTES[] = "/proc/net/ipv6_route";

std::string readWholeFile(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CoAddressFamily familyOf(const sockaddr* address) {
    if (address == nullptr) return CoAddressFamily::OTHER;
    if (address->sa_family == AF_INET) return CoAddressFamily::IPV4;
    if (address->sa_family == AF_INET6) return CoAddressFamily::IPV6;
    return CoAddressFamily::OTHER;
}

socklen_t lengthOf(CoAddressFamily family) {
    return family == CoAddressFamily::IPV4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

bool numericText(const sockaddr* address, CoAddressFamily family, std::string& out,
                 std::string& error) {
    char host[NI_MAXHOST] = {};
    const int rc = getnameinfo(address, lengthOf(family), host, sizeof host, nullptr, 0,
                               NI_NUMERICHOST);
    if (rc != 0) {
        error = coOsErrorText(rc, CoErrorSource::RESOLVER);
        return false;
    }
    out = host;
    return true;
}

// The kernel hands netmasks over with the family of their address but some drivers leave the
// family field empty, so the mask's bytes are put into an address of the right family.
bool numericNetmask(const sockaddr* mask, CoAddressFamily family, std::string& out,
                    std::string& error) {
    if (mask == nullptr) {
        out.clear();
        return true;
    }
    sockaddr_storage storage{};
    std::memcpy(&storage, mask, lengthOf(family));
    storage.ss_family = family == CoAddressFamily::IPV4 ? AF_INET : AF_INET6;
    if (family == CoAddressFamily::IPV6)
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_scope_id = 0;
    return numericText(reinterpret_cast<const sockaddr*>(&storage), family, out, error);
}

// An address whose text cannot be had is left out, with a word in the log.
bool describe(const ifaddrs& entry, const std::string& gateway4, const std::string& gateway6,
              CoRawInterface& raw) {
    raw.family = familyOf(entry.ifa_addr);
    if (raw.family == CoAddressFamily::OTHER) return false;
    raw.name = entry.ifa_name != nullptr ? entry.ifa_name : "";
    raw.up = (entry.ifa_flags & IFF_UP) != 0;
    raw.loopback = (entry.ifa_flags & IFF_LOOPBACK) != 0;
    raw.multicast = (entry.ifa_flags & IFF_MULTICAST) != 0;
    const std::string& gateway = raw.family == CoAddressFamily::IPV4 ? gateway4 : gateway6;
    raw.gateway = !gateway.empty() && raw.name == gateway;
    std::string error;
    if (!numericText(entry.ifa_addr, raw.family, raw.address, error) ||
        !numericNetmask(entry.ifa_netmask, raw.family, raw.netmask, error)) {
        CO_MSG_ERROR("Could not convert an address of interface '%s': %s", raw.name.c_str(),
                     error.c_str());
        return false;
    }
    return true;
}

class SystemEnumerator : public CoInterfaceEnumerator {
public:
    bool enumerate(std::vector<CoRawInterface>& out, std::string& error) const override {
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) != 0) {
            error = coCurrentOsErrorText();
            return false;
        }
        std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
        const std::string gateway4 = coDefaultRouteInterfaceV4(readWholeFile(IPV4_ROUTES));
        const std::string gateway6 = coDefaultRouteInterfaceV6(readWholeFile(IPV6_ROUTES));
        out.clear();
        for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            CoRawInterface raw;
            if (describe(*entry, gateway4, gateway6, raw)) out.push_back(raw);
        }
        return true;
    }
};

}  // namespace

const CoInterfaceEnumerator& CoInterfaceEnumerator::system() {
    static const SystemEnumerator enumerator;
    return enumerator;
}

}  // namespace Vantrel
