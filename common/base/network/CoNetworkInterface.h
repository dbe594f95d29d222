// One IP address of a local network interface, as the dispatcher lists it.
//
// An interface with several addresses (an IPv4 and an IPv6 address, say) appears once per
// address, every entry carrying the interface's operating-system name ("lo", "eth0", ...), which
// is also the name users write in the network configuration.
//
// A plain value: copyable, no lock; share it between threads as you would a string.
#pragma once

#include <cstdint>
#include <string>

namespace Vantrel {

class CoNetworkInterface {
public:
    // Bits of the attribute set, with their texts.
    enum Attributes : uint32_t {
        NONE = 0,             // "none"
        LOOPBACK = 1,         // "loopback"
        IPV4 = 2,             // "ipv4"
        IPV6 = 4,             // "ipv6"
        MULTICAST = 8,        // "multicast": multicast-capable and allowed by the configuration
        GATEWAY = 16,         // "gateway": carries the default route of its address family
        ANY = 0xffffffffu,    // "any": every bit
    };

    // An empty name and addresses, no attributes, throughput 0.
    CoNetworkInterface();
    CoNetworkInterface(const std::string& name, uint32_t attributes, const std::string& ip,
                       const std::string& netmask, uint32_t throughput);

    const std::string& getName() const { return name_; }
    uint32_t getAttributes() const { return attributes_; }
    // True when every bit of `attributes` is set (NONE: always true).
    bool hasAttributes(uint32_t attributes) const {
        return (attributes_ & attributes) == attributes;
    }
    bool isLoopback() const { return hasAttributes(LOOPBACK); }
    // Numeric texts: "10.0.0.1", "fe80::1%eth0", "255.255.255.0".
    const std::string& getIP() const { return ip_; }
    const std::string& getNetmask() const { return netmask_; }
    uint32_t getThroughput() const { return throughput_; }

    // All five fields are equal.
    bool operator==(const CoNetworkInterface& other) const;
    bool operator!=(const CoNetworkInterface& other) const { return !(*this == other); }

    // The text of one of the values above; null for any other combination of bits.
    static const char* getAttributeStr(uint32_t attribute);
    // The value whose text is `text` exactly (case-sensitive); NONE for an unknown text. A null
    // text is a programming error (assertion).
    static Attributes getAttributeFromStr(const char* text);
    // The texts of the set bits in ascending bit order joined by ",", for example
    // "loopback,ipv4"; "none" for no bit and "any" for all of them. Bits without a text are
    // left out.
    static std::string getAttributesStr(uint32_t attributes);

private:
    std::string name_;
    uint32_t attributes_;
    std::string ip_;
    std::string netmask_;
    uint32_t throughput_;
};

}  // namespace Vantrel
