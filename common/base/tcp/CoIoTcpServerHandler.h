// An I/O handler around a listening TCP socket: each time the event loop finds the socket
// readable, it accepts one connection and hands it to handleConnection, which the serving
// class implements.
//
// Ownership: the handler owns its listening descriptor (closed with the handler); every
// accepted descriptor belongs to handleConnection from the moment it is called.
// Threads: used by the thread of the event loop that watches it; handleConnection runs there.
#pragma once

#include <cstdint>
#include <string>

#include "tcp/CoIoHandler.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "tcp/CoIoTcpServerDescriptor.h"

namespace Vantrel {

class CoIoTcpServerHandler : public CoIoHandler {
public:
    // The listening descriptor; check its isValid(), getPort() and lastError() after
    // construction.
    CoIoTcpServerDescriptor* descriptor() override { return &listener_; }
    const CoIoTcpServerDescriptor* descriptor() const override { return &listener_; }

    // Accepts one connection (non-blocking, like the listening socket) and returns
    // handleSocket() of it. A failed accept posts "Can't accept client connection: %s." at
    // debug level; the listener stays in the loop (true) except when the listening socket
    // itself is broken (false). When the process or the system is out of descriptors (or
    // socket memory) the listener stops watching for ACCEPT_BACKOFF_MS, so that the loop does
    // not spin on a connection it cannot take, and the shortage is posted at error level once
    // until an accept succeeds again; resumeAcceptingIfDue() ends the pause.
    bool handleRead() override;

    // How long accepting pauses after a descriptor shortage, in milliseconds.
    static constexpr int ACCEPT_BACKOFF_MS = 100;
    // Ends a pause whose time is up. The milliseconds until the pause ends, or -1 when not
    // paused (for the loop's wait limit).
    int resumeAcceptingIfDue();
    ~CoIoTcpServerHandler() override;

    // Wraps the connected socket `id` in a new CoIoTcpDescriptor and returns
    // handleConnection() of it.
    virtual bool handleSocket(int id);
    // Takes ownership of `io`, a valid connected descriptor.
    virtual bool handleConnection(CoIoTcpDescriptor* io) = 0;
    // Handing connections to forked processes is not supported: must stay false.
    virtual bool forkOnConnection();
    virtual void preForkOnConnection();
    virtual void postForkOnConnection(bool inChild);

protected:
    // Event mask: readable and exceptional. The listening descriptor is built with the same
    // arguments (see CoIoTcpServerDescriptor for the port rules and the bind address).
    CoIoTcpServerHandler(int port, int sendBufSize, int rcvBufSize,
                         const std::string& bindAddress = std::string());
    CoIoTcpServerHandler(int minPort, int maxPort, int sendBufSize, int rcvBufSize,
                         const std::string& bindAddress = std::string());

private:
    // Accepts one pending connection: the new socket, or -1 with the system's error in `code`
    // and its text in `error`.
    int acceptConnection(std::string& error, int& code);
    // What a failed accept does to the listener (see handleRead).
    bool acceptFailed(int code, const std::string& error);
    static bool isDescriptorShortage(int code);
    static bool isListenerBroken(int code);

    CoIoTcpServerDescriptor listener_;
    uint64_t resumeAtMs_ = 0;        // CoTime::monotonicMs() when a pause ends; 0: not paused
    bool shortagePosted_ = false;    // the current shortage was posted
};

}  // namespace Vantrel
