// A scriptable hostile peer for the client's tests, built on plain POSIX sockets (none of the
// library's own serving code), so that it can send what no sound server sends: malformed,
// huge, truncated or slow bytes at any point of the protocol.
//
// HostileServer listens on two loopback ports the system picks: a node port, which speaks the
// request and reply lines of remote calls, and a frame port. Each accepted connection is
// served on a thread of its own. On the node port every request line gets the script's answer
// for its method (the login, "GetDaemonInfo" and "Ping" have sound defaults, any other method
// an "Unknown method" error); on the frame port every request gets the frame script's answer.
// HostilePeer is the client side: it connects to a port (the client library's event monitor)
// and sends scripted bytes.
//
// Memory: huge answers are made as they are sent (a pattern repeated), never held whole, so
// the test process's peak memory shows what the client under test allocates.
//
// Threads: answer(), answerFrames() and requests() may be called from any thread while the
// server serves. The destructor stops every thread and closes every socket, which also ends
// a client call that waits on a stalled answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostile {

// What a peer sends: `head`, then `fillBytes` bytes of `fillPattern` repeated (cut where the
// count ends), then `tail`; in pieces of `piece` bytes (0: as the socket takes them) with
// `pauseMs` milliseconds after each piece. Then the connection is closed when `close` is set.
// With `silent` nothing at all is sent and the connection stays open (a peer that never
// answers).
struct Bytes {
    std::string head;
    size_t fillBytes = 0;
    std::string fillPattern = "x";
    std::string tail;
    size_t piece = 0;
    int pauseMs = 0;
    bool close = false;
    bool silent = false;
};

// Writes `bytes` to the socket `fd` (then closes nothing). False once the peer has gone or
// `stop` is set.
bool sendBytes(int fd, const Bytes& bytes, const std::atomic<bool>& stop);

// The value escaping of reply lines: line feed, tab and backslash escaped with a backslash.
std::string escape(const std::string& value);
// "ok VALUE\n" and "error VALUE\n", the value escaped.
std::string okLine(const std::string& value);
std::string errorLine(const std::string& value);
// One attribute of an attribute stream: NAME, space, decimal length, space, VALUE.
std::string attribute(const std::string& name, const std::string& value);

class HostileServer {
public:
    // Listens on `host` (a loopback address); `ok()` tells whether both ports are open.
    explicit HostileServer(const std::string& host = "127.0.0.1");
    ~HostileServer();
    HostileServer(const HostileServer&) = delete;
    HostileServer& operator=(const HostileServer&) = delete;

    bool ok() const { return nodeListener_ >= 0 && frameListener_ >= 0; }
    int port() const { return nodePort_; }
    int framePort() const { return framePort_; }
    // "HOST:PORT"
    std::string serverId() const;

    // Every later request line for `method` is answered with `reply` (raw bytes: a reply line
    // or anything else).
    void answer(const std::string& method, const Bytes& reply);
    // Every method gets its default answer again.
    void forgetAnswers();
    // Every later request on the frame port is answered with `reply`.
    void answerFrames(const Bytes& reply);
    // The record "GetDaemonInfo" answers by default: this server, protocol 2015.0.0.5858, on
    // loopback with both ports.
    std::string daemonRecord() const;

    // The request lines received on the node port, without their line feeds.
    std::vector<std::string> requests() const;

private:
    void acceptLoop(int listener, bool frames);
    void serveNode(int fd);
    void serveFrames(int fd);
    Bytes answerFor(const std::string& method) const;

    const std::string host_;
    int nodeListener_ = -1, frameListener_ = -1;
    int nodePort_ = 0, framePort_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::map<std::string, Bytes> answers_;
    Bytes frameAnswer_;
    std::vector<std::string> requests_;
    std::vector<int> connections_;
    std::vector<std::thread> served_;  // one per connection, added by the accept loops
    std::thread nodeAcceptor_, frameAcceptor_;
};

// A UDP peer on a loopback address and a port the system picks: answers every datagram it receives with
// the scripted datagrams, sent back to the sender.
class HostileDatagrams {
public:
    // Sends from `host` (a loopback address).
    explicit HostileDatagrams(const std::string& host = "127.0.0.1");
    ~HostileDatagrams();
    HostileDatagrams(const HostileDatagrams&) = delete;
    HostileDatagrams& operator=(const HostileDatagrams&) = delete;

    bool ok() const { return fd_ >= 0; }
    int port() const { return port_; }
    void answer(const std::vector<std::string>& datagrams);
    // Sends `datagram` to `address`:`port` (a multicast group leaves through loopback); false
    // when the system refuses it.
    bool sendTo(const std::string& address, int port, const std::string& datagram);

private:
    void serve();

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<std::string> answers_;
    std::thread thread_;
};

// The client side: a TCP connection to a loopback port, from a loopback address of its own
// choice, sending scripted bytes and reading what comes back.
class HostilePeer {
public:
    // Connects from `from` (a loopback address) to 127.0.0.1:`port`.
    explicit HostilePeer(int port, const std::string& from = "127.0.0.1");
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    bool connected() const { return fd_ >= 0; }
    bool send(const Bytes& bytes);
    // Reads one line (without its line feed) within `timeoutMs`; false when the peer closed
    // the connection or nothing complete came in time.
    bool readLine(std::string& line, int timeoutMs);
    // True when the peer closes the connection within `timeoutMs` (what it sends before is
    // dropped).
    bool closedWithin(int timeoutMs);

private:
    int fd_ = -1;
    std::string pending_;
    std::atomic<bool> stop_{false};
};

}  // namespace hostile
