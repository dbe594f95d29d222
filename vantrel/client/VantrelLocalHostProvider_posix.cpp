#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loggerBase/CoMsg.h"
#include "tcp/CoOsError.h"
#include "vantrel/client/VantrelLocalHostProvider.h"

namespace {

// The numeric text of an IPv4 or IPv6 address; false for other families or when it cannot
// be converted.
bool numericAddress(const sockaddr* address, std::string& text) {
    socklen_t length;
    if (address->sa_family == AF_INET)
        length = sizeof(sockaddr_in);
    else if (address->sa_family == AF_INET6)
        length = sizeof(sockaddr_in6);
    else
        return false;
    char host[NI_MAXHOST];
    const int status = getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    if (status != 0) {
        CO_MSG_ERROR("Could not convert an interface address: %s",
                     Vantrel::coOsErrorText(status, Vantrel::CoErrorSource::RESOLVER).c_str());
        return false;
    }
    text = host;
    return true;
}

class SystemLocalHost : public VantrelLocalHostProvider {
public:
    std::string hostName() const override {
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) != 0) {
            CO_MSG_ERROR("Could not retrieve host name: %s", Vantrel::coCurrentOsErrorText().c_str());
            return "localhost";
        }
        return name;
    }

    std::vector<std::string> interfaceAddresses() const override {
        std::vector<std::string> addresses;
        ifaddrs* interfaces = nullptr;
        if (getifaddrs(&interfaces) != 0) {
            CO_MSG_ERROR("Could not retrieve interfaces list: %s", Vantrel::coCurrentOsErrorText().c_str());
            return addresses;
        }
        for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
            std::string text;
            if (entry->ifa_addr != nullptr && (entry->ifa_flags & IFF_UP) != 0 &&
                numericAddress(entry->ifa_addr, text))
                addresses.push_back(text);
        }
        freeifaddrs(interfaces);
        return addresses;
    }
};

}  // namespace

const VantrelLocalHostProvider& VantrelLocalHostProvider::systemProvider() {
    static const SystemLocalHost theSystem;
    return theSystem;
}
