#include "tcp/CoSocketWait.h"

#include "tcp/CoSocketApi.h"

#include "vantrel/CoException.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "tcp/CoOsError.h"

namespace Vantrel {

namespace {

SOCKET asSocket(int id) { return static_cast<SOCKET>(static_cast<unsigned>(id)); }

[[noreturn]] void failWakeup() {
    coTakeSocketError();
    CoException(__LINE__, __FILE__).fire("Unable to create a wake-up", "%s",
                                         coCurrentOsErrorText().c_str());
}

// A non-blocking datagram socket bound to an ephemeral loopback port.
SOCKET boundLoopbackSocket(sockaddr_in& address) {
    const SOCKET handle = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) failWakeup();
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    u_long nonBlocking = 1;
    if (bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
        closesocket(handle);
        failWakeup();
    }
    return handle;
}

}  // namespace

// Two loopback datagram sockets connected to each other: a datagram from one makes the other
// readable.
CoWakeup::CoWakeup() {
    CoIoTcpDescriptor::init();
    sockaddr_in readAddress;
    sockaddr_in writeAddress;
    const SOCKET reader = boundLoopbackSocket(readAddress);
    const SOCKET writer = boundLoopbackSocket(writeAddress);
    if (connect(writer, reinterpret_cast<sockaddr*>(&readAddress), sizeof readAddress) != 0 ||
        connect(reader, reinterpret_cast<sockaddr*>(&writeAddress), sizeof writeAddress) != 0) {
        closesocket(reader);
        closesocket(writer);
        failWakeup();
    }
    readId_ = static_cast<int>(reader);
    writeId_ = static_cast<int>(writer);
}

CoWakeup::~CoWakeup() {
    closesocket(asSocket(readId_));
    closesocket(asSocket(writeId_));
}

void CoWakeup::wake() {
    const char byte = 0;
    // A full queue already wakes the wait.
    send(asSocket(writeId_), &byte, 1, 0);
}

void CoWakeup::drain() {
    char drained[64];
    while (recv(asSocket(readId_), drained, sizeof drained, 0) > 0) {
    }
}

int coWaitReadable(const std::vector<int>& ids, int timeoutMs, std::vector<int>& readable,
                   std::string& error) {
    std::vector<WSAPOLLFD> waits;
    for (int id : ids) waits.push_back({asSocket(id), POLLRDNORM, 0});
    readable.clear();
    const int ready = WSAPoll(waits.data(), static_cast<ULONG>(waits.size()),
                              timeoutMs < 0 ? -1 : timeoutMs);
    if (ready == SOCKET_ERROR) {
        coTakeSocketError();
        error = coCurrentOsErrorText();
        return -1;
    }
    for (size_t i = 0; i < waits.size(); ++i)
        if (waits[i].revents != 0) readable.push_back(ids[i]);
    return static_cast<int>(readable.size());
}

}  // namespace Vantrel
