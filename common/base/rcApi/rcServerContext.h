// The serving end of the remote-call protocol.
//
// An rcServerContext listens on a TCP port, keeps one Client per accepted connection, holds the
// published methods and objects, parses request lines, runs methods and writes reply lines. Its
// owner drives it by calling callIOHandlers() (rcAppContext) again and again.
//
// Every connection must begin with a successful "_login" (its argument is the client's
// connection record as an attribute stream): any other first request is answered and then the
// connection is closed. With setLoginRequired(true) that first request is run only when it is
// "_ping"; any other gets the error reply "Not logged in". Every server has "_ping" (succeeds)
// and "_login". A connection that sends no complete first request within the login time
// (setLoginTimeout) is closed and logged.
//
// Replies never make the loop wait for a peer: each connection queues its reply lines and
// writes them as its socket takes them. While a connection's queue holds more than the queue
// limit (setReplyQueueLimit), its further requests are not read; a connection whose queue has
// not emptied within the drain time (setDrainTimeout) is closed and logged. After each request
// a connection gives back parse and queue buffers above BUFFER_KEEP_BYTES.
//
// A connection filter (setConnectionFilter) may refuse peers by address: they are closed as
// they are accepted, and logged. Requests for unknown
// methods or objects get "error" replies ("Unknown method: NAME", "Invalid Object: ID");
// asynchronous requests never get a reply. A delayed method (rcMethod::DELAYED) answers later
// through returnFromDelayedCommand().
//
// A request line longer than CoIoTcpDescriptor::MAX_LINE_LENGTH (or the lower limits of
// setRequestLineLimits) is answered with an "error" reply ("Request line longer than N
// bytes.") and its connection is closed; the other clients are served on. With an idle time
// (setIdleTimeout), a logged-in connection that stays silent that long is closed.
//
// Ownership: the context owns its clients and their connections; a closed client is deleted
// at the start of the next pass of the loop, or with the context. Registered objects are not
// owned.
// Threads: everything runs on the thread that calls callIOHandlers(), except the object table,
// which is locked: registerObject() and unregisterObject() may be called from any thread while
// the loop runs. Methods, login() and returnFromDelayedCommand() run on the loop's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"
#include "rcApi/rcAppContext.h"
#include "rcApi/rcConnectionInfo.h"
#include "rcApi/rcMessage.h"
#include "rcApi/rcMethod.h"
#include "tcp/CoIoTcpServerHandler.h"

namespace Vantrel {

class rcServerContext : public rcAppContext, public CoIoTcpServerHandler {
public:
    // One accepted connection: reads its request lines and has them served.
    class Client : public CoIoHandler {
    public:
        // Takes ownership of `io`.
        Client(CoIoTcpDescriptor* io, rcServerContext& context);
        Client(const Client&) = delete;
        Client& operator=(const Client&) = delete;
        ~Client() override;

        CoIoDescriptor* descriptor() override;
        const CoIoDescriptor* descriptor() const override;
        // Reads what the socket has and serves every complete request in it, as long as the
        // reply queue is within its limit (the rest waits). False (the connection closed) when
        // the peer has gone, when the client is not logged in after a request, when a request
        // line is too long, or when a reply cannot be written.
        bool handleRead() override;
        // Writes queued replies as far as the socket takes them, then serves requests that
        // waited for the queue to shrink. False (the connection closed) on a failed write.
        bool handleWrite() override;
        // Posts the connection's last error at error level; true.
        bool handleException() override;

        // The client id: the serial of its connection record; never 0, which means no client.
        unsigned int getId() const { return static_cast<unsigned int>(info_.getSerial()); }
        bool isOpen() const { return io_->isValid(); }
        const rcConnectionInfo& getConnectionInfo() const { return info_; }
        // Bytes the request parser, the unread requests and the reply queue hold allocated.
        size_t requestBufferBytes() const;
        // Reply bytes queued and not yet taken by the socket.
        size_t queuedReplyBytes() const { return output_.size() - outputSent_; }

    private:
        friend class rcServerContext;

        // Serves the complete requests in `bytes` while the reply queue is within its limit;
        // `consumed` tells how far it got. False when the connection was closed.
        bool serve(const char* bytes, size_t size, size_t& consumed);
        // Serves the requests kept in input_ (read while the queue was over its limit).
        bool serveWaitingInput();
        // Ends one request: resets the parser, giving back a large buffer.
        void finishRequest();
        // Writes what the socket takes of the queue without waiting; false on failure (the
        // reason is the connection's last error).
        bool flushOutput(uint64_t nowMs);
        // Watches for room only while replies are queued, and for requests only while the
        // queue is within its limit.
        void updateEventMask();
        bool isQueueOverLimit() const;
        // Closes the connection when a deadline has passed (logged); otherwise the
        // milliseconds until the next one (-1: none).
        int enforceDeadlines(uint64_t nowMs);
        std::string peerAddress() const;

        // The longest request line this client may send now (before or after its login).
        size_t lineLimit() const;
        // Answers an over-long request line as far as the socket takes it, without waiting.
        void answerLineTooLong();
        // Closes the connection and gives back the parser's memory.
        void closeConnection();
        // Queues the reply line of `ok` ("ok" or "error") and `value` and writes what the
        // socket takes; a failed write is posted and closes the connection.
        void writeReply(bool ok, const std::string& value);

        std::unique_ptr<CoIoTcpDescriptor> io_;
        rcServerContext& context_;
        std::unique_ptr<rcCommand> request_;
        rcConnectionInfo info_;
        const rcMethod* currentMethod_;  // of the request being answered, or null
        std::string input_;           // bytes read while the queue was over its limit
        std::string output_;          // queued reply bytes; the first outputSent_ are written
        size_t outputSent_ = 0;
        uint64_t queuedSinceMs_ = 0;  // when the queue last stopped being empty; 0: empty
        const uint64_t acceptedMs_;   // for the login time
        uint64_t heardMs_;            // when bytes last came in, for the idle time
        size_t requestBytes_ = 0;     // of the request being read, against lineLimit()
    };

    // Buffers of a connection above this size are given back after each request.
    static constexpr size_t BUFFER_KEEP_BYTES = 64 * 1024;
    // Defaults of the limits below.
    static constexpr size_t DEFAULT_REPLY_QUEUE_LIMIT = 1024 * 1024;
    static constexpr unsigned int DEFAULT_DRAIN_TIMEOUT_MS = 30000;
    static constexpr unsigned int DEFAULT_LOGIN_TIMEOUT_MS = 30000;

    // Listens on `port` (port rules of CoIoTcpServerDescriptor: -1 lets the system choose) at
    // `bindAddress`, a numeric IPv4 or IPv6 address of this host; empty (the default) listens on
    // every address. When that fails, posts "Unable to set-up port %d to accept connections: %s"
    // and stays not valid (no methods, nothing served).
    explicit rcServerContext(int port, const std::string& bindAddress = std::string());
    // Listens on the first free port from `minPort` to `maxPort` at `bindAddress`; the failure
    // message is "Unable to find port in range %d to %d accept connections: %s".
    rcServerContext(int minPort, int maxPort, const std::string& bindAddress = std::string());
    rcServerContext(const rcServerContext&) = delete;
    rcServerContext& operator=(const rcServerContext&) = delete;
    ~rcServerContext() override;

    // Called after a client's record was accepted by "_login", with the client's full record;
    // false refuses the client ("Authentication failed"). The default accepts everyone.
    virtual bool login(const rcConnectionInfo& info);

    bool isValid() const { return valid_; }
    int getPort() const;

    // Stores a copy under the method's name; a name already there posts "Method '%s' already
    // registered" at error level and gives false.
    bool registerMethod(const rcMethod& method);
    // Id 0 is reserved ("Reserved object Id"); an id already there posts "Object '%d' already
    // registered"; both give false. Any thread.
    bool registerObject(int id, void* object) EXCLUDES(objectsLock_);
    // False when `id` was not registered. Any thread.
    bool unregisterObject(int id) EXCLUDES(objectsLock_);

    // The id of the client being served (0 when none).
    unsigned int getCurrentClientId() const;
    // A client with that id exists and its connection is open.
    bool isIdValid(unsigned int id);

    // Completes the current client's record with `info` (address: the connection's peer),
    // stamps it with the time and logs it.
    void setCurrentConnectionInfo(const rcConnectionInfo& info);
    // The current client's record, or null when no client is being served.
    const rcConnectionInfo* getCurrentConnectionInfo() const;

    // Answers the delayed method that client `id` is waiting for with "ok" or "error" and
    // `text`. Nothing when the client is gone; posts "Trying to do a delayed return for a client
    // that isn't waiting for it." when it is not waiting (each wait is answered once).
    void returnFromDelayedCommand(unsigned int id, bool ok, const char* text);

    bool ping() { return true; }

    // Limits of every connection (see the top of this file); loop thread, or before the loop
    // runs. A timeout of 0 turns that limit off.
    void setReplyQueueLimit(size_t bytes) { replyQueueLimit_ = bytes; }
    void setDrainTimeout(unsigned int ms) { drainTimeoutMs_ = ms; }
    void setLoginTimeout(unsigned int ms) { loginTimeoutMs_ = ms; }
    // A logged-in connection that sends nothing for this long, while no answer of its is
    // pending, is closed and logged. Off (0) by default.
    void setIdleTimeout(unsigned int ms) { idleTimeoutMs_ = ms; }
    // The longest request line (line feed included) a connection may send before its login
    // and after it; a longer one is answered "Request line longer than N bytes." and closes
    // the connection. Both default to, and are capped by, CoIoTcpDescriptor::MAX_LINE_LENGTH.
    void setRequestLineLimits(size_t beforeLogin, size_t afterLogin) {
        lineLimitBeforeLogin_ = beforeLogin;
        lineLimitAfterLogin_ = afterLogin;
    }
    // On: only "_ping" may run before "_login"; off by default.
    void setLoginRequired(bool required) { loginRequired_ = required; }
    // Called with the numeric peer address of every accepted connection; false closes it at
    // once (posted at notice level). Empty (the default) lets every peer in. Loop thread.
    void setConnectionFilter(std::function<bool(const std::string& peerAddress)> filter) {
        connectionFilter_ = std::move(filter);
    }

    // Memory held by the request parsers, unread requests and reply queues of all clients,
    // open or closed.
    size_t requestBufferBytes() const;
    // Number of clients whose connection is open.
    size_t openClientCount() const;

    // CoIoTcpServerHandler: takes a newly accepted connection.
    bool handleConnection(CoIoTcpDescriptor* io) override;
    bool handleException() override { return true; }

protected:
    Client* getCurrentClient() const { return currentClient_; }
    // Called on the loop's thread once the connection of `client` has closed, and again when
    // the client is deleted (with the context too, where only this default runs), so an
    // override must accept a second call for one client. The default does nothing.
    virtual void clientClosed(const Client& client);
    // Closes connections past their deadlines, ends a pause of accepting, drops closed
    // clients; the wait limit is the time to the next deadline.
    int beforeWait() override;

private:
    friend class rcSysCalls;

    void setUp();
    // Puts back the current client's record as it was before a login that login() refused,
    // so that a refused client is not left logged in.
    void restoreCurrentConnectionInfo(const rcConnectionInfo& previous);
    // Runs one complete request of `client`. True when a reply line is due now: the current
    // result holds it. Asynchronous requests and delayed methods get none here.
    bool processRequest(Client& client);
    void setCurrentResult(bool ok, std::string value);
    // Queues the current result on `client` and lets go of its text.
    void writeCurrentReply(Client& client);
    // The object with `id` (null for 0); false when `id` is not registered.
    bool findObject(int id, void*& object) const EXCLUDES(objectsLock_);
    Client* findClient(unsigned int id);
    void dropClosedClients();
    // The reply to a request that needs a login and has none (login required).
    bool refusesBeforeLogin(const Client& client, const rcCommand& request) const;

    std::vector<std::unique_ptr<Client>> clients_;
    std::map<std::string, rcMethod> methods_;
    mutable CoMutex objectsLock_;
    std::map<int, void*> objects_ GUARDED_BY(objectsLock_);
    bool currentOk_ = false;
    std::string currentValue_;
    Client* currentClient_;
    bool valid_;
    size_t replyQueueLimit_ = DEFAULT_REPLY_QUEUE_LIMIT;
    unsigned int drainTimeoutMs_ = DEFAULT_DRAIN_TIMEOUT_MS;
    unsigned int loginTimeoutMs_ = DEFAULT_LOGIN_TIMEOUT_MS;
    unsigned int idleTimeoutMs_ = 0;
    size_t lineLimitBeforeLogin_ = CoIoTcpDescriptor::MAX_LINE_LENGTH;
    size_t lineLimitAfterLogin_ = CoIoTcpDescriptor::MAX_LINE_LENGTH;
    bool loginRequired_ = false;
    std::function<bool(const std::string&)> connectionFilter_;
};

}  // namespace Vantrel
