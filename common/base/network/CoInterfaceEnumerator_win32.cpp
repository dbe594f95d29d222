#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

#include "vantrel/CoMsg.h"
#include "network/CoInterfaceEnumerator.h"
#include "tcp/CoOsError.h"

namespace Vantrel {
namespace {

CoAddressFamily familyOf(const sockaddr* address) {
    if (address == nullptr) return CoAddressFamily::OTHER;
    if (address->sa_family == AF_INET) return CoAddressFamily::IPV4;
    if (address->sa_family == AF_INET6) return CoAddressFamily::IPV6;
    return CoAddressFamily::OTHER;
}

bool numericText(const sockaddr* address, int length, std::string& out, std::string& error) {
    char host[NI_MAXHOST] = {};
    const int rc = getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST);
    if (rc != 0) {
        error = coOsErrorText(rc, CoErrorSource::RESOLVER);
        return false;
    }
    out = host;
    return true;
}

// The mask of a prefix length, as numeric text of the address's family.
bool numericNetmask(CoAddressFamily family, unsigned prefixLength, std::string& out,
                    std::string& error) {
    sockaddr_storage storage{};
    unsigned char* bytes;
    unsigned size;
    if (family == CoAddressFamily::IPV4) {
        storage.ss_family = AF_INET;
        bytes = reinterpret_cast<unsigned char*>(&reinterpret_cast<sockaddr_in*>(&storage)->sin_addr);
        size = 4;
    } else {
        storage.ss_family = AF_INET6;
        bytes = reinterpret_cast<unsigned char*>(&reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr);
        size = 16;
    }
    for (unsigned i = 0; i < size && prefixLength > 0; ++i) {
        const unsigned bits = prefixLength >= 8 ? 8 : prefixLength;
        bytes[i] = static_cast<unsigned char>(0xff00u >> bits);
        prefixLength -= bits;
    }
    const int length = family == CoAddressFamily::IPV4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    return numericText(reinterpret_cast<const sockaddr*>(&storage), length, out, error);
}

std::string utf8Of(const wchar_t* text) {
    if (text == nullptr) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

bool hasGateway(const IP_ADAPTER_ADDRESSES& adapter, CoAddressFamily family) {
    for (auto* gateway = adapter.FirstGatewayAddress; gateway != nullptr; gateway = gateway->Next)
        if (familyOf(gateway->Address.lpSockaddr) == family) return true;
    return false;
}

// An address whose text cannot be had is left out, with a word in the log.
bool describe(const IP_ADAPTER_ADDRESSES& adapter, const IP_ADAPTER_UNICAST_ADDRESS& unicast,
              CoRawInterface& raw) {
    raw.family = familyOf(unicast.Address.lpSockaddr);
    if (raw.family == CoAddressFamily::OTHER) return false;
    raw.name = utf8Of(adapter.FriendlyName);
    if (raw.name.empty()) raw.name = adapter.AdapterName != nullptr ? adapter.AdapterName : "";
    raw.up = adapter.OperStatus == IfOperStatusUp;
    raw.loopback = adapter.IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    raw.multicast = (adapter.Flags & IP_ADAPTER_NO_MULTICAST) == 0;
    raw.gateway = hasGateway(adapter, raw.family);
    std::string error;
    if (!numericText(unicast.Address.lpSockaddr, unicast.Address.iSockaddrLength, raw.address,
                     error) ||
        !numericNetmask(raw.family, unicast.OnLinkPrefixLength, raw.netmask, error)) {
        CO_MSG_ERROR("Could not convert an address of interface '%s': %s", raw.name.c_str(),
                     error.c_str());
        return false;
    }
    return true;
}

class SystemEnumerator : public CoInterfaceEnumerator {
public:
    bool enumerate(std::vector<CoRawInterface>& out, std::string& error) const override {
        const ULONG flags =
            GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_INCLUDE_GATEWAYS;
        ULONG size = 16 * 1024;
        std::vector<unsigned char> buffer;
        ULONG result = ERROR_BUFFER_OVERFLOW;
        for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
            buffer.resize(size);
            result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                          reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                          &size);
        }
        out.clear();
        if (result == ERROR_NO_DATA) return true;
        if (result != NO_ERROR) {
            error = coOsErrorText(static_cast<int>(result));
            return false;
        }
        for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
             adapter != nullptr; adapter = adapter->Next) {
            for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
                 unicast = unicast->Next) {
                CoRawInterface raw;
                if (describe(*adapter, *unicast, raw)) out.push_back(raw);
            }
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
