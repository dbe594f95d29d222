// Enumeration of the host's interface addresses behind a replaceable interface.
//
// The dispatcher asks the enumerator for the raw list and applies its own rules (which
// interfaces count, their attributes, lists and order), so a test can hand it any list it
// likes. The system's enumerator (getifaddrs) is installed by default.
//
// The gateway rule of the system's enumerator: an IPv4 address is on the gateway when its
// interface carries the IPv4 default route, as /proc/net/route shows it; an IPv6 address when
// its interface carries the IPv6 default route of /proc/net/ipv6_route. A default route is a
// route to the whole address space (destination and mask or prefix length 0) that is up and
// not a reject route; of several, the one with the lowest metric counts, the first listed
// when metrics are equal. A route table that cannot be read gives no gateway.
#pragma once

#include <string>
#include <vector>

namespace Vantrel {

enum class CoAddressFamily { OTHER, IPV4, IPV6 };

// One address of one interface, as the operating system reports it.
struct CoRawInterface {
    std::string name;          // the operating-system name ("lo", "eth0", ...)
    bool up = false;
    bool loopback = false;
    bool multicast = false;    // multicast-capable
    bool gateway = false;      // carries the default route of this address's family
    CoAddressFamily family = CoAddressFamily::OTHER;
    std::string address;       // numeric text
    std::string netmask;       // numeric text
};

class CoInterfaceEnumerator {
public:
    virtual ~CoInterfaceEnumerator();

    // Replaces `out` with every interface address of the host, in the system's order. On
    // failure returns false with the system's text in `error`; `out` is then unspecified.
    virtual bool enumerate(std::vector<CoRawInterface>& out, std::string& error) const = 0;

    // The system's enumerator.
    static const CoInterfaceEnumerator& system();
    // The installed enumerator (the system's unless a test installed another).
    static const CoInterfaceEnumerator& current();
    // Installs `enumerator` (not owned; it must outlive its installation); null restores the
    // system's. Meant for tests, while no other thread enumerates.
    static void install(const CoInterfaceEnumerator* enumerator);
};

}  // namespace Vantrel
