// Where the client learns the local host name, the addresses of the local interfaces and
// the host's UUID.
//
// VantrelOS::getHostName() and VantrelOS::isLocalIP() ask the installed provider, and so do
// the server-description rules that decide whether a server runs on this machine. The system
// provider asks the network layer (the name resolver, the interface dispatcher and the
// network configuration's host UUID); a test installs its own in its place.
//
// Threads: current() and install() may be called from any thread; a provider's operations
// may run on several threads at once and must allow it.
#pragma once

#include <string>
#include <vector>

class VantrelLocalHostProvider {
public:
    virtual ~VantrelLocalHostProvider();

    // The host name; "localhost" when the system cannot tell (after an error message).
    virtual std::string hostName() const = 0;
    // The numeric addresses (IPv4 and IPv6) of the local interfaces that are up, in the
    // system's order. Empty, after an error message, when they cannot be listed.
    virtual std::vector<std::string> interfaceAddresses() const = 0;
    // This machine's UUID into `uuid`; false, leaving `uuid` alone, when it is not known.
    // The base answers false; the system provider answers the configured host UUID.
    virtual bool hostUUID(std::string& uuid) const;

    // The installed provider, or the system provider when none is installed.
    static const VantrelLocalHostProvider& current();
    // Installs `provider` (not owned; it must outlive its installation). Null restores the
    // system provider.
    static void install(const VantrelLocalHostProvider* provider);
    static const VantrelLocalHostProvider& systemProvider();
};
