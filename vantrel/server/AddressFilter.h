// Which client addresses may connect to vantreld: a list of IPv4 and IPv6 networks given as
// "ADDRESS/PREFIX[,ADDRESS/PREFIX...]" (a bare ADDRESS is that one address). An IPv4 client
// reached through an IPv6 socket ("::ffff:a.b.c.d") is matched as the IPv4 address it is.
//
// This is a filter on the peer's address, not an authentication: the protocol has none.
// Threads: a plain value; allows() may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantreld {

class AddressFilter {
public:
    // Reads `text`; false with the reason in `error` (and `out` left alone) when an item is
    // not a numeric address with an optional prefix length within its family's bits.
    static bool parse(const std::string& text, AddressFilter& out, std::string& error);

    // No networks: every address is allowed.
    bool empty() const { return networks_.empty(); }
    // `address` (numeric text) is in one of the networks; always true when empty(). An
    // address that is not numeric text is not allowed by a non-empty filter.
    bool allows(const std::string& address) const;

private:
    struct Network {
        bool ipv6;
        uint8_t bytes[16];
        int prefix;
    };
    // The bytes of a numeric address, an IPv4-mapped IPv6 address giving its IPv4 form.
    static bool readAddress(const std::string& text, bool& ipv6, uint8_t (&bytes)[16]);
    static bool readNetwork(const std::string& item, Network& network);
    static bool contains(const Network& network, bool ipv6, const uint8_t (&bytes)[16]);

    std::vector<Network> networks_;
};

}  // namespace vantreld
