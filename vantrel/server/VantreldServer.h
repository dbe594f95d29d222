// The reference server: a node tree kept in a directory, served over the remote-call protocol
// with the node and server-level methods (NodeMethods, ServerMethods), playing a configurable
// protocol version, and calling back the clients registered for node events (EventService) on
// threads of their own.
//
// Usable in a test process: construct it (it opens the store and listens), then run() it on a
// thread of its own, or use VantreldThread. The port may be chosen by the system (port 0);
// nodePort() tells which.
//
// Failure: the constructor throws ServerError when the store cannot be opened (also when
// another server has the tree, or the directory is not a tree), the configuration or trace
// file cannot be read, or the port cannot be listened on at the listen address (by default
// loopback only); the text names the directory, file, or port and address. Requests never stop the server: a failing one gets an
// error reply and leaves the tree as it was.
//
// Threads: run() serves on the calling thread until a "Shutdown" request or requestStop()
// (any thread; takes effect within STOP_LATENCY_MS). requestLog() may be read from any
// thread, and so may events(); store() only while run() is not running.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/server/AddressFilter.h"
#include "vantrel/server/DiscoveryService.h"
#include "vantrel/server/EventService.h"
#include "vantrel/server/FrameServer.h"
#include "vantrel/server/LoggedInPeers.h"
#include "vantrel/server/MethodDispatcher.h"
#include "vantrel/server/NodeMethods.h"
#include "vantrel/server/NodeStore.h"
#include "vantrel/server/ProtocolVersion.h"
#include "vantrel/server/RequestLog.h"
#include "vantrel/server/ServerMethods.h"
#include "vantrel/server/ServerSettings.h"

namespace vantreld {

class VantreldServer {
public:
    static constexpr int DEFAULT_NODE_PORT = 7549;
    static constexpr const char* DEFAULT_LISTEN_ADDRESS = "127.0.0.1";
    static constexpr int STOP_LATENCY_MS = 200;

    struct Options {
        std::string directory;
        int port = DEFAULT_NODE_PORT;  // 0: chosen by the system
        // The numeric address the node port listens on; "0.0.0.0" or "::" (or empty) listen
        // on every address of the host.
        std::string listenAddress = DEFAULT_LISTEN_ADDRESS;
        // Announced in the record (at most 5). Empty: the listen address, or, when listening
        // on every address, the host's addresses other than loopback (at most 5; 127.0.0.1
        // when it has none).
        std::vector<std::string> addresses;
        ProtocolVersion version;
        std::string configFile;  // optional
        std::string traceFile;   // optional
        ServerFiles::Sync sync = ServerFiles::Sync::DURABLE;
        // 0: chosen by the system (the default here; the command line's is 7550)
        int framePort = 0;
        int benchReadDelayMs = 0;  // benchmarks: delay per frame read from disk
        int cacheMegabytes = static_cast<int>(FrameServer::CACHE_BYTES >> 20);  // read-ahead
        // How long one event delivery may take before its client is dropped.
        unsigned int eventTimeoutMs = EventService::DELIVERY_TIMEOUT_MS;
        // Client addresses that may connect (empty: all), on both ports; others are closed at
        // accept.
        AddressFilter allowed;
        // How long a frame-port connection may stay without moving a byte (0: no limit).
        unsigned int frameIdleLimitMs = FrameServer::DEFAULT_IDLE_LIMIT_MS;
        // Take part in server discovery (DiscoveryService) on the group port `udpPort`
        // (0: the configuration's, else 7555).
        bool discovery = false;
        unsigned udpPort = 0;
    };

    explicit VantreldServer(const Options& options);
    VantreldServer(const VantreldServer&) = delete;
    VantreldServer& operator=(const VantreldServer&) = delete;
    ~VantreldServer();

    int nodePort() const;
    int framePort() const;
    // The numeric address the node port is bound to ("0.0.0.0" or "::" for every address).
    std::string listenAddress() const;
    void run();
    void requestStop() { stop_ = true; }
    // From a signal handler: only atomic stores.
    void requestStopBySignal(int signal) {
        stopSignal_ = signal;
        stop_ = true;
    }
    bool stopRequested() const { return stop_; }
    // Why run() ended: "signal SIGTERM", "a Shutdown request from ADDRESS", "stop requested".
    std::string stopReason() const;
    // Whether the node port can be reached from other hosts (not bound to loopback).
    bool listensBeyondThisHost() const;
    // The ready line's fields after "vantreld ready: node_port=N": " listen=ADDRESS
    // tree=DIR nodes=N protocol=A.B.C.D".
    std::string readyFields() const;

    RequestLog& requestLog() { return log_; }
    const NodeStore& store() const { return store_; }
    // Any thread.
    EventService& events() { return events_; }
    const ProtocolVersion& version() const { return dispatcher_.version(); }

private:
    class Context;
    static ServerSettings loadSettings(const Options& options);
    // The frame port changes frames and files only for peers logged in on the node port; uses
    // settings_ and events_, which outlive the frame server.
    FrameServer::Options frameOptions(const Options& options);
    // Starts discovery; a failure is logged and the server goes on without it.
    void startDiscovery(const Options& options);
    static DiscoveryService::Group discoveryGroup(const Options& options,
                                                  const ServerSettings& settings);
    // What the record announces: the addresses asked for, else where the node port listens.
    std::vector<std::string> announcedAddresses(const Options& options) const;
    void bindMethods();

    ServerSettings settings_;
    RequestLog log_;
    NodeStore store_;
    MethodDispatcher dispatcher_;
    NodeMethods nodeMethods_;
    ServerMethods serverMethods_;
    EventService events_;
    LoggedInPeers loggedIn_;  // filled by the context, read by the frame server's threads
    std::set<std::string> methodNames_;  // outlive the context, which keeps pointers to them
    std::unique_ptr<Context> context_;
    std::unique_ptr<FrameServer> frames_;  // serves on threads of its own
    std::unique_ptr<DiscoveryService> discovery_;
    std::atomic<bool> stop_;
    std::atomic<int> stopSignal_;
    std::string shutdownBy_;  // the client whose Shutdown request stopped the server
};

// Runs a VantreldServer on a thread of its own from construction to destruction.
class VantreldThread {
public:
    explicit VantreldThread(const VantreldServer::Options& options);
    VantreldThread(const VantreldThread&) = delete;
    VantreldThread& operator=(const VantreldThread&) = delete;
    // Stops the server and waits for its thread.
    ~VantreldThread();

    VantreldServer& server() { return *server_; }
    int nodePort() const { return server_->nodePort(); }
    // Waits until the server's loop has ended (after a "Shutdown"); false after `timeoutMs`.
    bool waitUntilStopped(int timeoutMs);

private:
    std::unique_ptr<VantreldServer> server_;
    std::atomic<bool> finished_;
    std::thread thread_;
};

}  // namespace vantreld
