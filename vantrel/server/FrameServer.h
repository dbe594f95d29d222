// The frame port of vantreld: plain TCP data connections on which clients read and write
// frames, read ahead, read node streams and push and pull files (wire forms in
// vantrel/protocol/FrameWire.h).
//
// Threads: one thread accepts; each data connection is served by a thread of its own (at most
// MAX_CONNECTIONS at once, and at most MAX_CONNECTIONS_PER_PEER from one peer address, so one
// host cannot hold every slot; more are closed at once), and read-aheads are loaded by worker
// threads (FramePrefetcher). Nothing here waits for the node service, and one slow client does
// not stall another. A connection on which nothing moves for the idle limit (waiting for a
// request, or in the middle of one) is closed; clients open a new one for their next request.
//
// Changes ("WriteFrame", "PushFile") are accepted only from the peers that Options::mayChange
// admits (vantreld: the addresses holding a logged-in node connection; the frame protocol
// has no login of its own); others get the error status NOT_LOGGED_IN, after the data bytes
// of a "WriteFrame" were read and dropped, and before those of a "PushFile" are sent.
//
// Behaviour the protocol leaves to the server:
//   - Generations: a command that the protocol version played did not know yet closes the
//     data connection (no reply). The first versions that know a command: "PullFile",
//     "PushFile", "ReadStream" 2007.1.0.0; "ReadFrameNoAck" 2009.1.0.0; "ReadFrameParams",
//     "ReadAheadParams", "ReadFrameParamsNoAck" 2010.0.0.0; "ReadAheadRedirect" 2010.1.1.x
//     and from 2010.2.0.0 (not 2010.1.2); "InvalidateCache" 2012.0.0.5120. The others: all.
//   - Frames come from the tree's frame files (FrameStorage). A stored frame shorter than the
//     requested buffer is sent padded with zero bytes, a longer one is cut to the buffer. An
//     unknown frame id gets the error status "Unknown frame id: 'ID'" in the acknowledged
//     forms, and in the forms without acknowledgement the 82-byte error prefix followed by
//     that text, padded with zeros to the buffer size.
//   - The parameter bytes of the parameter forms are read and ignored.
//   - "WriteFrame" stores the frame durably (temporary file, flush, rename) before it answers;
//     for an unknown frame id it reads and drops the data bytes and answers the error status.
//     A stored frame is dropped from the read-ahead cache (a read that follows the answer
//     gets the new bytes) and told to the observer as "FrameWritten", like the store's own
//     changes.
//   - Read-aheads ("ReadAhead", "ReadAheadParams", and "ReadAheadRedirect" for frames held
//     here) start loading the frame into a bounded memory cache; "InvalidateCache" empties it.
//   - Redirection: frames whose ids start with a prefix named in a [FrameRedirect N] section
//     of the configuration file live on another server:
//         [FrameRedirect 0]
//         Frames = 5.            frame id prefix
//         Address = 127.0.0.1    the other server's address (node and data address)
//         NodePort = 7649
//         FramePort = 7650
//     "ReadAheadRedirect" for such a frame answers that server's record; otherwise "0".
//   - "ReadStream" sends the units of the node stream named from its files (FrameStorage); a
//     failure is an error status. A linked file that cannot be read any more once the count
//     is sent closes the connection.
//   - "PushFile" / "PullFile" use the files area (FilesArea). "PullFile" of a name that is
//     refused or cannot be opened answers the size 0 and then the error status.
//   - Requested sizes above MAX_TRANSFER bytes, and malformed requests, close the connection.
//
// Failure: the constructor throws ServerError when the port cannot be listened on.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/protocol/FrameWire.h"
#include "vantrel/server/FilesArea.h"
#include "vantrel/server/FramePrefetcher.h"
#include "vantrel/server/FrameStorage.h"
#include "vantrel/server/NodeObserver.h"
#include "vantrel/server/ProtocolVersion.h"
#include "vantrel/server/RequestLog.h"

namespace Vantrel {
class CoIoTcpServerDescriptor;
}

namespace vantreld {

class FrameSocket;

class FrameServer {
public:
    static constexpr int DEFAULT_PORT = 7550;
    static constexpr int MAX_CONNECTIONS = 64;
    static constexpr int MAX_CONNECTIONS_PER_PEER = 16;
    static constexpr unsigned int DEFAULT_IDLE_LIMIT_MS = 60000;
    static constexpr const char* NOT_LOGGED_IN =
        "Not logged in: changes need a logged-in node connection from this address";
    static constexpr long long MAX_TRANSFER = 1LL << 30;
    static constexpr size_t CACHE_BYTES = 512u * 1024 * 1024;

    struct Redirect {
        std::string framePrefix;
        std::string address;
        int nodePort = 0;
        int framePort = 0;
    };

    struct Options {
        std::string directory;    // the tree directory
        int port = DEFAULT_PORT;  // 0: chosen by the system
        std::string listenAddress = "127.0.0.1";
        ProtocolVersion version;
        ServerFiles::Sync sync = ServerFiles::Sync::DURABLE;
        std::vector<Redirect> redirects;
        int readDelayMs = 0;  // benchmarks: a fixed delay per frame read from disk
        size_t cacheBytes = CACHE_BYTES;  // the read-ahead cache's bound (FramePrefetcher)
        // Whether a peer (numeric address) may open a data connection; empty: every peer.
        std::function<bool(const std::string& peerAddress)> allows;
        // Whether a peer may change frames and files; empty: every peer.
        std::function<bool(const std::string& peerAddress)> mayChange;
        // How long a data connection may stay without moving a byte; 0: no limit.
        unsigned int idleLimitMs = DEFAULT_IDLE_LIMIT_MS;
        // Where the files of linked frames are on this host (FrameStorage); empty: as given.
        FrameStorage::PathTranslator translatePath;
        // Told of every frame written through this port ("FrameWritten"), on the data
        // connection's thread; must not block. Empty: nobody is told.
        std::function<void(const NodeChange&)> observer;
    };

    // The [FrameRedirect N] sections of a configuration file (none when `path` is empty).
    static std::vector<Redirect> readRedirects(const std::string& path);
    // Whether a server of `version` knows `command`.
    static bool knows(const ProtocolVersion& version, VantrelFrameWire::Command command);

    // Listens; serving starts at once on threads of its own. `log`, when not null, gets one
    // entry per request (see logRequest) and must outlive the server.
    FrameServer(const Options& options, RequestLog* log);
    // Stops accepting, ends every data connection and waits for their threads.
    ~FrameServer();
    FrameServer(const FrameServer&) = delete;
    FrameServer& operator=(const FrameServer&) = delete;

    int port() const;

private:
    void acceptLoop();
    // Whether the --allow networks admit this peer; a refusal is logged.
    bool admits(const std::string& peer) const;
    // Whether this peer holds fewer than its share of the connections; under sessionsLock_.
    bool hasRoomFor(const std::string& peer) const;
    // Whether the peer of `socket` may change frames and files; a refusal is logged.
    bool mayChange(const FrameSocket& socket, const VantrelFrameWire::Request& request) const;
    void serve(FrameSocket& socket);
    // Serves one request; false when the connection must close.
    bool handle(FrameSocket& socket, const VantrelFrameWire::Request& request);
    void readFrame(FrameSocket& socket, const VantrelFrameWire::Request& request);
    void readAheadRedirect(FrameSocket& socket, const VantrelFrameWire::Request& request);
    void writeFrame(FrameSocket& socket, const VantrelFrameWire::Request& request);
    void announceFrameWritten(const std::string& frameId);
    // Reads `size` bytes of the request into `file` (not committed).
    static void receiveInto(FrameSocket& socket, long long size, FrameStorage::IncomingFile& file);
    void readStream(FrameSocket& socket, const VantrelFrameWire::Request& request);
    void pushFile(FrameSocket& socket, const VantrelFrameWire::Request& request);
    void pullFile(FrameSocket& socket, const VantrelFrameWire::Request& request);
    // "NAME" for bare commands, else "NAME ARGUMENT NUMBER".
    void logRequest(const VantrelFrameWire::Request& request);
    const Redirect* redirectFor(const std::string& frameId) const;
    std::string redirectRecord(const Redirect& redirect) const;

    const Options options_;
    RequestLog* log_;
    FrameStorage storage_;
    FramePrefetcher prefetcher_;
    FilesArea files_;
    std::unique_ptr<Vantrel::CoIoTcpServerDescriptor> listener_;
    std::atomic<bool> stopping_{false};
    std::mutex sessionsLock_;
    std::condition_variable sessionEnded_;
    std::set<FrameSocket*> sessions_;  // open data connections, under sessionsLock_
    std::thread acceptor_;
};

}  // namespace vantreld
