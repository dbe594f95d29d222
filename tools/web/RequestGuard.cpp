#include "RequestGuard.h"

#include <arpa/inet.h>

namespace vantrel_web {

namespace {

bool isIPv4(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIPv6(const std::string& text) {
    in6_addr address{};
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace

bool RequestGuard::hostIsOwn(const std::string& host) const {
    const size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.substr(colon + 1) != std::to_string(port_))
        return false;
    const std::string name = host.substr(0, colon);
    if (name == "localhost" || isIPv4(name)) return true;
    return name.size() > 2 && name.front() == '[' && name.back() == ']' &&
           isIPv6(name.substr(1, name.size() - 2));
}

std::string RequestGuard::refusal(const std::string& host,
                                  const std::optional<std::string>& origin) const {
    if (!hostIsOwn(host))
        return "Host '" + host + "' is not this server (use localhost or an IP address, port " +
               std::to_string(port_) + ")";
    if (origin && *origin != "http://" + host)
        return "requests from '" + *origin + "' are not accepted";
    return "";
}

}  // namespace vantrel_web
