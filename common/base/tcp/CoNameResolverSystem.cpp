// The system's name resolver behind CoNameResolver and CoSocketAddress: the same calls on every
// platform.
#include "tcp/CoNameResolver.h"

#include <cstring>

#include "tcp/CoOsError.h"
#include "tcp/CoSocketApi.h"

namespace Vantrel {
namespace {

class SystemResolver : public CoNameResolver {
public:
    bool resolve(const char* host, const char* service, std::vector<CoSocketAddress>& out,
                 std::string& error) const override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int code = getaddrinfo(host, service, &hints, &list);
        if (code != 0) {
            error = coOsErrorText(code, CoErrorSource::RESOLVER);
            return false;
        }
        out.clear();
        for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
            if (a->ai_addr != nullptr && a->ai_addrlen <= CoSocketAddress::MAX_LENGTH)
                out.emplace_back(a->ai_addr, static_cast<int>(a->ai_addrlen));
        }
        freeaddrinfo(list);
        return true;
    }

    bool hostNameOf(const CoSocketAddress& address, bool nameRequired, std::string& out,
                    std::string& error) const override {
        char name[NI_MAXHOST] = {};
        const int flags = NI_NOFQDN | (nameRequired ? NI_NAMEREQD : 0);
        const int code = getnameinfo(address.get(), static_cast<socklen_t>(address.length()), name,
                                     sizeof name, nullptr, 0, flags);
        if (code != 0) {
            error = coOsErrorText(code, CoErrorSource::RESOLVER);
            return false;
        }
        out = name;
        return true;
    }

    bool localHostName(std::string& out, std::string& error) const override {
        char name[128] = {};
        if (gethostname(name, sizeof name - 1) != 0) {
            error = coOsErrorText(coTakeSocketError());
            return false;
        }
        out = name;
        return true;
    }
};

}  // namespace

const CoNameResolver& CoNameResolver::system() {
    static const SystemResolver resolver;
    return resolver;
}

bool CoSocketAddress::fromNumeric(const char* host, int port, CoSocketAddress& out) {
    if (host == nullptr || port < 0 || port > 65535) return false;
    sockaddr_in v4{};
    if (inet_pton(AF_INET, host, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        out = CoSocketAddress(reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
        return true;
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, host, &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        out = CoSocketAddress(reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
        return true;
    }
    return false;
}

int CoSocketAddress::family() const {
    return length_ >= static_cast<int>(sizeof get()->sa_family) ? get()->sa_family : 0;
}

bool CoSocketAddress::isIPv6() const { return family() == AF_INET6; }

bool CoSocketAddress::numericHost(std::string& out, std::string& error) const {
    char text[NI_MAXHOST] = {};
    const int code = getnameinfo(get(), static_cast<socklen_t>(length_), text, sizeof text, nullptr,
                                 0, NI_NUMERICHOST);
    if (code != 0) {
        error = coOsErrorText(code, CoErrorSource::RESOLVER);
        return false;
    }
    out = text;
    return true;
}

}  // namespace Vantrel
