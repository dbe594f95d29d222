// What CoMulticast needs from the platform beyond the socket calls both spell alike.
//
// Threads: every function may be called from any thread. Failures leave the socket error in
// errno (coTakeSocketError) or give the system's text, as each says.
#pragma once

#include <string>

#include "tcp/CoSocketApi.h"

namespace Vantrel {
namespace multicastOs {

// The value type of IP_MULTICAST_TTL and IP_MULTICAST_LOOP: one byte on Linux, a DWORD on
// Windows.
#if defined(_WIN32)
using ByteOption = DWORD;
#else
using ByteOption = unsigned char;
#endif

// A datagram socket of `family`; -1 on failure.
int openDatagramSocket(int family);
void closeSocket(int socket);

// The index of the interface that has the IPv6 address `address` (0 when none has it); false,
// with the system's text in `error`, when the interface list cannot be read.
bool indexOfLocalAddress(const in6_addr& address, unsigned int& index, std::string& error);

}  // namespace multicastOs
}  // namespace Vantrel
