// Test helper: a UDP port that nobody holds right now (bound once by the system's choice,
// then released), for a test's own discovery group.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Vantrel {
namespace testing {

inline unsigned freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    socklen_t length = sizeof local;
    unsigned port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
        port = ntohs(local.sin_port);
    ::close(fd);
    return port;
}

}  // namespace testing
}  // namespace Vantrel
