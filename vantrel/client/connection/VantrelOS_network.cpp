// The parts of VantrelOS that ask the local host provider.
#include <string>
#include <vector>

#include "vantrel/client/connection/VantrelLocalHostProvider.h"
#include "vantrel/VantrelOS.h"

VantrelStr VantrelOS::getHostName() {
    return VantrelStr(VantrelLocalHostProvider::current().hostName().c_str());
}

bool VantrelOS::isLocalIP(const char* address) {
    if (address == nullptr) return false;
    if (isLoopBackIP(address)) return true;
    const VantrelLocalHostProvider& localHost = VantrelLocalHostProvider::current();
    if (localHost.hostName() == address) return true;
    for (const std::string& interfaceAddress : localHost.interfaceAddresses())
        if (interfaceAddress == address) return true;
    return false;
}
