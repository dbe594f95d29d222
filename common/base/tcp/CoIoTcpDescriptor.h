// A TCP connection, and the host-name and address functions the whole library uses.
//
// The connecting constructor resolves the host (through CoNameResolver::current()), tries each
// address in turn with a connect bounded by `connectionTimeout` seconds, and keeps the first
// that answers. The socket is non-blocking with TCP no-delay for its whole life; every wait is
// done by the waits of CoIoDescriptor.
//
// Ownership: the descriptor owns its socket and closes it in its destructor; not copyable.
// Failure: a failed connect leaves the descriptor invalid (isValid() false) with the reason in
// lastError() and throws nothing; a successful one leaves lastError() empty. The static
// resolution functions throw CoException; their bool twins post the reason at debug level and
// return false instead.
// Threads: as CoIoDescriptor. The static functions may be called from any thread; the local
// address cache is refreshed under a lock.
//
// Environment: ZR_TCP_DEBUG (any value) turns on debug messages about name resolution and
// connecting; read when the library is loaded.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "tcp/CoIoDescriptor.h"

struct sockaddr;

namespace Vantrel {

class CoSocketAddress;

class CoIoTcpDescriptor : public CoIoDescriptor {
public:
    // Upper bound on network interfaces, published for users of the class.
    static constexpr int MAX_NET_INTERFACES = 16;
    // The longest line a reader may gather from a peer into memory that grows (a reply line,
    // a request line). A peer that sends more without an end of line is broken or hostile: the
    // reader must fail rather than keep growing.
    static constexpr std::size_t MAX_LINE_LENGTH = 64u * 1024u * 1024u;
    // How often a connect under way looks at its abandon flag, in milliseconds.
    static constexpr int CONNECT_POLL_MS = 100;

    // Connects to `remoteHost` (a name or a numeric address) on `port`. Buffer sizes of 0 keep
    // the system's defaults. Preconditions: `remoteHost` not null; `port`, both buffer sizes and
    // `connectionTimeout` (seconds, per address tried) not negative.
    // A name that does not resolve leaves the host-not-found text; a connect that times out the
    // timed-out text; a refused one the refused text; with several addresses, the text of the
    // last one tried. `abandon` (optional, not owned, set by another thread) gives up the
    // connect within CONNECT_POLL_MS of becoming true, with the aborted text.
    CoIoTcpDescriptor(const char* remoteHost, int port, int sendBufSize, int rcvBufSize,
                      int connectionTimeout, const std::atomic<bool>* abandon = nullptr);
    // Adopts an already connected socket (an accepted connection); the descriptor owns it.
    explicit CoIoTcpDescriptor(int id);
    ~CoIoTcpDescriptor() override;

    // One receive: the count received; 0 when the peer has closed (reset text) or on failure
    // (the system's text). Waits for data when there is none yet: call it when a wait found
    // the socket readable. Precondition: the descriptor is valid.
    int nonBlockingRead(void* buf, unsigned int size) override;
    // One send: the count sent (possibly less than `size`), -1 on failure (reset text when the
    // peer has gone). Waits for room when there is none. Precondition: the descriptor is valid.
    int nonBlockingWrite(const void* buf, unsigned int size) override;
    // One send that never waits: the count sent (possibly less than `size`), 0 when the socket
    // has no room, -1 on failure (reset text when the peer has gone). For event loops, which
    // must not wait on one peer. Precondition: the descriptor is valid.
    int sendWithoutWaiting(const void* buf, unsigned int size);

    // Numeric text (dotted IPv4 or IPv6) of the local or remote end. On failure the reason is
    // posted at error level and `out` is left alone.
    void getSocketIP(std::string& out) const override;
    void getPeerIP(std::string& out) const override;

    // Starts the socket layer once per process (Winsock on Windows; nothing to start on Linux,
    // where the state is kept so callers' start-up and shutdown logic is the same). Thread-safe.
    static void init();
    // Marks the socket layer stopped when it was started.
    static void uninit();

    // The local host name, cut at its first dot unless the rest begins with ".local" (so
    // alpha.example.org gives alpha, box.local stays whole). Throws CoException with the
    // system's text when there is none.
    static std::string getHostName();
    // The first usable address of `name` as numeric text: loopback (127.0.0.1, ::1) and
    // link-local (fe80...) addresses are skipped. Throws CoException with the resolver's text,
    // or the host-not-found text when no address is usable.
    static std::string getIpAddrFromHostName(const char* name);
    // The host name (without its domain) of numeric address `addr`; with `nameRequired` never
    // the numeric form. An `addr` that does not resolve gives the empty text; throws CoException
    // with the host-not-found text when no address has a name.
    static std::string getHostNameFromIpAddr(const char* addr, bool nameRequired);
    // getIpAddrFromHostName(getHostName()), cached for 60 seconds. A lookup that throws leaves
    // the cache as it was and passes the exception on.
    static std::string getLocalIP();
    // Makes the next getLocalIP() look up again.
    static void resetCachedValues();
    // Cuts a host name at its first dot for display, unless it is a dotted IPv4 address.
    static void makeDisplayableHostName(std::string& name);

    // The bool twins: on success store the result in `out` and return true; on failure post
    // the reason at debug level and return false.
    static bool getHostName(std::string& out);
    static bool getIpAddrFromHostName(const char* name, std::string& out);
    static bool getHostNameFromIpAddr(const char* addr, std::string& out, bool nameRequired);
    static bool getLocalIP(std::string& out);

    // Reads ZR_TCP_DEBUG again (for programs and tests that change their environment).
    static void reloadEnvironment();

protected:
    CoIoTcpDescriptor();

    // The numeric text of `address` into `out`; on failure posts the reason at error level and
    // leaves `out` alone.
    virtual void getSocketIP(sockaddr* address, int length, std::string& out) const;

    // Socket options. On failure they set the last error (except address reuse) and post at
    // debug level; setNonBlocking also returns false.
    void setNoDelaySocketOption(bool on);
    bool setNonBlocking(bool on);
    void setReuseAddressSocketOption(bool on);

    // The text of the calling thread's current socket error.
    static std::string getLastSocketErrorStr();

    static bool debugEnabled();

private:
    enum ConnectOutcome { CONNECT_DONE, CONNECT_PENDING, CONNECT_FAILED, CONNECT_TIMED_OUT,
                          CONNECT_REFUSED };

    // One address of the connect loop; true when connected (the socket is kept), false with
    // the reason as the last error and no socket.
    bool connectTo(const CoSocketAddress& address, const char* host, int port, int sendBufSize,
                   int rcvBufSize, int connectionTimeout, const std::atomic<bool>* abandon);
    // Creates an unconnected stream socket of `family` and adopts it; false with the system's
    // text as last error.
    bool openSocket(int family);
    // Starts the connect: DONE, PENDING or FAILED (with the system's text as last error).
    ConnectOutcome startConnect(const CoSocketAddress& address);
    // Waits for a pending connect: DONE, TIMED_OUT, REFUSED or FAILED (last error set; the
    // aborted text when abandoned).
    ConnectOutcome finishConnect(int timeoutSeconds, const std::atomic<bool>* abandon);
    // The platform's part of finishConnect: waits up to `sliceMs` for the pending connect and
    // answers DONE, REFUSED, FAILED (last error set) or PENDING when the time ran out or the
    // wait was interrupted.
    ConnectOutcome pollConnect(int sliceMs);
    static bool isAbandoned(const std::atomic<bool>* abandon) { return abandon && *abandon; }
};

}  // namespace Vantrel
