// VantrelFrameConnection: the plain TCP connection to a server's frame port (the data
// connection), on which the frame client writes requests and reads replies.
//
// It connects lazily, on the first send or receive, to the data addresses of the record its
// provider supplies (each in turn, on the record's frame port, 7550 when that is 0, with a
// connect time limit of 10 seconds, or the call ceiling of VantrelCallTimeout when that is
// shorter), and drops the connection after any failure: the provider's record is invalidated
// and the next send or receive connects again from a freshly obtained record. There is no
// retry within one call; but a connection that the peer closed while it was idle (a server
// restarted between two calls) is noticed when the next request begins (beginRequest) and
// replaced the same way, so that request does not fail.
//
// Every wait of a send or receive for the next bytes is bounded by the call ceiling: one in
// which nothing moves for that long fails with the timed-out text (a transfer that keeps
// moving may take longer in all).
//
// Environment: KQ_VANTREL_TCP_BUF_SIZE, the kernel's send and receive buffer sizes of the
// socket (unset or 0: the system's defaults), read at construction.
//
// Ownership: the provider is not owned and must outlive the connection; the socket is owned.
//
// Failure: send, receive and connecting throw Vantrel::CoException (texts below).
// Threads: one thread at a time sends and receives; stop() may be called from any thread
// while a connect, send or receive blocks, and makes it fail ("Cannot read data on socket:
// ..." with the aborted text, the write's failure, or the connect's aborted text).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"

class VantrelFrameConnection {
public:
    explicit VantrelFrameConnection(VantrelDaemonInfoMgr* provider);
    ~VantrelFrameConnection();
    VantrelFrameConnection(const VantrelFrameConnection&) = delete;
    VantrelFrameConnection& operator=(const VantrelFrameConnection&) = delete;

    // Called before the first byte of each request: drops the connection when the peer has
    // closed it (and invalidates the record), so that the request connects afresh. Never
    // throws; no traffic.
    void beginRequest();
    // Writes all `length` bytes. Throws the descriptor's error text on a short write.
    void send(const void* data, size_t length);
    // Reads exactly `length` bytes into `buffer`. Throws "Connection closed", "Operation
    // aborted." or "Cannot read data on socket: TEXT".
    void receive(void* buffer, size_t length);
    // Makes a blocked send or receive return, or gives up a connect under way (within a
    // fraction of a second, with the aborted text, trying no further address). Reaches the
    // request begun last (beginRequest), not a later one. Any thread.
    void stop();
    // Invalidates the provider's record and closes the socket.
    void disconnect();
    bool isConnected() const;
    // True when the last attempt to connect reached none of the record's addresses; false
    // again once one connects.
    bool unreachable() const { return unreachable_; }
    // stop() came since the request under way began (or since forgetStop()).
    bool stopRequested() const { return stopped_; }
    // A stop that came before now reaches nothing (beginRequest does this too).
    void forgetStop() { stopped_ = false; }

    int sendBufferSize() const { return sendBufferSize_; }
    int receiveBufferSize() const { return receiveBufferSize_; }

private:
    // Connects unless connected; throws the provider's last error, the last address's
    // connection failure or "No data interface found".
    void ensureConnected();
    // Drops the socket (record invalidated) and throws `text`.
    // `text` is a copy: it may be the text of the descriptor this destroys.
    [[noreturn]] void failAndDrop(std::string text);
    void replaceDescriptor(Vantrel::CoIoTcpDescriptor* descriptor);

    VantrelDaemonInfoMgr* provider_;
    // The socket's pointer is swapped under this lock so that stop() from another thread
    // never reaches a destroyed descriptor; I/O runs without it.
    mutable std::mutex descriptorLock_;
    std::unique_ptr<Vantrel::CoIoTcpDescriptor> descriptor_;
    int sendBufferSize_;
    int receiveBufferSize_;
    bool unreachable_ = false;
    std::atomic<bool> stopped_{false};  // set by stop(), cleared by beginRequest()
};
