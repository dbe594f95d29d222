// A listening TCP socket on a fixed port, the first free port of a range, or a port the
// system picks.
//
// Port rules (the first constructor's `port`):
//   port > 0   exactly that port;
//   port < -1  the first free port from -port up to 65535 (-5000: from 5000 upwards);
//   port == -1 a port chosen by the system;
//   port == 0  nothing is opened.
// The second constructor searches minPort..maxPort (maxPort -1: up to 65535); minPort must be
// above 0. Address reuse is on for a fixed port and off while searching. The socket listens
// non-blocking, with the largest backlog the system allows.
//
// Address: `bindAddress` is a numeric IPv4 or IPv6 text ("127.0.0.1", "::1", "0.0.0.0"); empty
// (the default) means the wildcard address of the family. A non-numeric text, or an address
// that is not one of this host's, fails like any other bind ("Could not bind to port ..." at
// debug level; last error "Invalid argument" or "Cannot assign requested address").
//
// Family: with a numeric bindAddress, its family and no other. Otherwise IPv4 (falling back to
// IPv6 when the system has no IPv4). The environment can narrow this: ZR_TCP_DISABLE_IPV4 rules
// out IPv4, ZR_TCP_DISABLE_IPV6 rules out IPv6; when nothing is left there is no socket and the
// last error is "No protocol available". Each variable counts by its mere presence; they are
// read when the library is loaded.
//
// Failure: nothing is thrown. isValid() tells whether it listens, getPort() gives the bound port
// (-1 when none) and lastError() the reason.
// Ownership and threads: as CoIoTcpDescriptor; the socket is closed by the destructor.
#pragma once

#include <string>

#include "tcp/CoIoTcpDescriptor.h"

namespace Vantrel {

class CoIoTcpServerDescriptor : public CoIoTcpDescriptor {
public:
    CoIoTcpServerDescriptor(int port, int sendBufSize, int rcvBufSize,
                            const std::string& bindAddress = std::string());
    CoIoTcpServerDescriptor(int minPort, int maxPort, int sendBufSize, int rcvBufSize,
                            const std::string& bindAddress = std::string());
    ~CoIoTcpServerDescriptor() override;

    // The bound port, or -1.
    int getPort() const { return port_; }
    // The address asked for at construction (empty: the wildcard).
    const std::string& getBindAddress() const { return bindAddress_; }

    // Reads ZR_TCP_DISABLE_IPV4, ZR_TCP_DISABLE_IPV6 and ZR_TCP_DEBUG again (for programs and
    // tests that change their environment).
    static void reloadEnvironment();

private:
    // Chooses the family from the environment, then one attempt.
    void initPort(int port, int sendBufSize, int rcvBufSize, int minPort, int maxPort);
    // One attempt in one family; with `fallback` a failure to create the socket or to find the
    // address retries once in the other family (never with a bind address, which has one family).
    bool initPort(int port, int sendBufSize, int rcvBufSize, int minPort, int maxPort, bool ipv6,
                  bool fallback);
    // Fails without a socket: last error from the system error `code`, port -1.
    bool fail(int code);

    // The bind address (or the family's wildcard) at `port`; false when the bind address is
    // not a numeric address of that family.
    bool addressToBind(bool ipv6, int port, CoSocketAddress& address) const;

    // Operating-system steps (CoIoTcpServerDescriptor_posix.cpp, _win32.cpp). Each returns 0
    // or the system error (an errno value).
    int createSocket(bool ipv6);
    // Binds the bind address (or the family's wildcard) at `port`; EINVAL when the bind address
    // is not a numeric address of that family.
    int bindTo(bool ipv6, int port);
    int readBoundPort(int& port) const;
    int listenOn(int backlog);

    int port_;
    const std::string bindAddress_;
};

}  // namespace Vantrel
