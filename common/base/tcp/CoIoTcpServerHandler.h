// An I/O handler around a listening TCP socket: each time the event loop finds the socket
// readable, it accepts one connection and hands it to handleConnection, which the serving
// class implements.
//
// Ownership: the handler owns its listening descriptor (closed with the handler); every
// accepted descriptor belongs to handleConnection from the moment it is called.
// Threads: used by the thread of the event loop that watches it; handleConnection runs there.
#pragma once

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
    // debug level and returns false.
    bool handleRead() override;
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
    // Accepts one pending connection: the new socket, or -1 with the system's text in `error`.
    int acceptConnection(std::string& error);

    CoIoTcpServerDescriptor listener_;
};

}  // namespace Vantrel
