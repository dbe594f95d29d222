#include "vantrel/server/AddressFilter.h"

#include <arpa/inet.h>

#include <cstring>

#include "vantrel/server/WireText.h"

namespace vantreld {

namespace {

const uint8_t IPV4_MAPPED_PREFIX[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

}  // namespace

bool AddressFilter::parse(const std::string& text, AddressFilter& out, std::string& error) {
    AddressFilter parsed;
    for (const std::string& item : splitComma(text)) {
        Network network{};
        if (!readNetwork(item, network)) {
            error = "Invalid network '" + item + "' (expected ADDRESS/PREFIX, e.g. 10.0.0.0/8 "
                    "or fd00::/8)";
            return false;
        }
        parsed.networks_.push_back(network);
    }
    if (parsed.networks_.empty()) {
        error = "No network given";
        return false;
    }
    out = parsed;
    return true;
}

bool AddressFilter::readAddress(const std::string& text, bool& ipv6, uint8_t (&bytes)[16]) {
    std::memset(bytes, 0, sizeof bytes);
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) {
        ipv6 = false;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return false;
    ipv6 = std::memcmp(bytes, IPV4_MAPPED_PREFIX, sizeof IPV4_MAPPED_PREFIX) != 0;
    if (!ipv6) {
        std::memmove(bytes, bytes + 12, 4);
        std::memset(bytes + 4, 0, 12);
    }
    return true;
}

bool AddressFilter::readNetwork(const std::string& item, Network& network) {
    const size_t slash = item.find('/');
    if (!readAddress(item.substr(0, slash), network.ipv6, network.bytes)) return false;
    const int bits = network.ipv6 ? 128 : 32;
    network.prefix = bits;
    if (slash == std::string::npos) return true;
    const std::string length = item.substr(slash + 1);
    if (length.empty() || length.size() > 3 ||
        length.find_first_not_of("0123456789") != std::string::npos)
        return false;
    network.prefix = std::stoi(length);
    return network.prefix <= bits;
}

bool AddressFilter::contains(const Network& network, bool ipv6, const uint8_t (&bytes)[16]) {
    if (network.ipv6 != ipv6) return false;
    const int whole = network.prefix / 8;
    if (std::memcmp(network.bytes, bytes, static_cast<size_t>(whole)) != 0) return false;
    const int rest = network.prefix % 8;
    if (rest == 0) return true;
    const uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (network.bytes[whole] & mask) == (bytes[whole] & mask);
}

bool AddressFilter::allows(const std::string& address) const {
    if (networks_.empty()) return true;
    bool ipv6 = false;
    uint8_t bytes[16];
    if (!readAddress(address, ipv6, bytes)) return false;
    for (const Network& network : networks_)
        if (contains(network, ipv6, bytes)) return true;
    return false;
}

}  // namespace vantreld
