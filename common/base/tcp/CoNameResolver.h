// Name resolution behind a replaceable interface.
//
// The transport asks the installed CoNameResolver for addresses, reverse names and the local
// host name instead of calling the system resolver directly, so a test can make a name
// unresolvable or resolve it to chosen addresses without any DNS. The system resolver is
// installed by default.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct sockaddr;

namespace Vantrel {

// One socket address (IPv4 or IPv6, with its port), held by value.
class CoSocketAddress {
public:
    static constexpr int MAX_LENGTH = 128;

    // An empty address: family 0, length 0.
    CoSocketAddress();
    // Copies `length` bytes of `address`. Precondition: 0 <= length <= MAX_LENGTH.
    CoSocketAddress(const sockaddr* address, int length);

    // Builds the address of a numeric host text ("127.0.0.1", "::1") and a port. False, and
    // `out` untouched, when `host` is not a numeric IPv4 or IPv6 address or the port is
    // outside 0..65535.
    static bool fromNumeric(const char* host, int port, CoSocketAddress& out);

    int family() const;
    bool isIPv6() const;
    int length() const { return length_; }
    const sockaddr* get() const;

    // The numeric host text (dotted IPv4 or IPv6, without the port). On failure the result is
    // false, `out` is untouched and `error` holds the reason.
    bool numericHost(std::string& out, std::string& error) const;
    // The address bytes as two-digit lower-case hexadecimal numbers, each followed by a space.
    std::string hexBytes() const;

private:
    alignas(std::max_align_t) unsigned char storage_[MAX_LENGTH];
    int length_;
};

class CoNameResolver {
public:
    virtual ~CoNameResolver();

    // Resolves `host` with the decimal `service` (null for none) into the addresses of stream
    // sockets of any family, in the resolver's order. On failure returns false and puts the
    // resolver's text into `error`.
    virtual bool resolve(const char* host, const char* service, std::vector<CoSocketAddress>& out,
                         std::string& error) const = 0;

    // The host name of `address` without its domain part; with `nameRequired` only a real
    // name, never the numeric form. On failure returns false with the reason in `error`.
    virtual bool hostNameOf(const CoSocketAddress& address, bool nameRequired, std::string& out,
                            std::string& error) const = 0;

    // The name the system gives the local host (at most 127 characters). On failure returns
    // false with the reason in `error`.
    virtual bool localHostName(std::string& out, std::string& error) const = 0;

    // The system's resolver.
    static const CoNameResolver& system();
    // The installed resolver (the system's unless a test installed another).
    static const CoNameResolver& current();
    // Installs `resolver` (not owned; it must outlive its installation); null restores the
    // system's. Meant for tests, while no other thread resolves.
    static void install(const CoNameResolver* resolver);
};

}  // namespace Vantrel
