// The serving end of the remote-call protocol.
//
// An rcServerContext listens on a TCP port, keeps one Client per accepted connection, holds the
// published methods and objects, parses request lines, runs methods and writes reply lines. Its
// owner drives it by calling callIOHandlers() (rcAppContext) again and again.
//
// Every connection must begin with a successful "_login" (its argument is the client's
// connection record as an attribute stream): any other first request is answered and then the
// connection is closed. Every server has "_ping" (succeeds) and "_login". Requests for unknown
// methods or objects get "error" replies ("Unknown method: NAME", "Invalid Object: ID");
// asynchronous requests never get a reply. A delayed method (rcMethod::DELAYED) answers later
// through returnFromDelayedCommand().
//
// A request line longer than CoIoTcpDescriptor::MAX_LINE_LENGTH is answered with an "error"
// reply ("Request line longer than N bytes.") and its connection is closed; the other clients
// are served on.
//
// Ownership: the context owns its clients and their connections; a closed client is deleted
// the next time a connection is accepted, or with the context. Registered objects are not
// owned.
// Threads: everything runs on the thread that calls callIOHandlers(), except the object table,
// which is locked: registerObject() and unregisterObject() may be called from any thread while
// the loop runs. Methods, login() and returnFromDelayedCommand() run on the loop's thread.
#pragma once

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
        // Reads what the socket has and serves every complete request in it. False (the
        // connection closed) when the peer has gone, when the client is not logged in after a
        // request, or when a request line is too long.
        bool handleRead() override;
        // Posts the connection's last error at error level; true.
        bool handleException() override;

        // The client id: the serial of its connection record.
        unsigned int getId() const { return static_cast<unsigned int>(info_.getSerial()); }
        bool isOpen() const { return io_->isValid(); }
        const rcConnectionInfo& getConnectionInfo() const { return info_; }
        // Bytes the request parser holds allocated.
        size_t requestBufferBytes() const { return request_->capacity(); }

    private:
        friend class rcServerContext;

        // Answers an over-long request line as well as the peer lets it, without waiting long.
        void answerLineTooLong();
        // Closes the connection and gives back the parser's memory.
        void closeConnection();
        // Writes a reply line; a failed write is posted.
        void writeReply(const rcResult& result);
        // Writes all of `line`; false with the reason as the connection's last error.
        bool sendLine(const std::string& line);

        std::unique_ptr<CoIoTcpDescriptor> io_;
        rcServerContext& context_;
        std::unique_ptr<rcCommand> request_;
        rcConnectionInfo info_;
        const rcMethod* currentMethod_;  // of the request being answered, or null
    };

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

    // Memory held by the request parsers of all clients, open or closed.
    size_t requestBufferBytes() const;

    // CoIoTcpServerHandler: takes a newly accepted connection.
    bool handleConnection(CoIoTcpDescriptor* io) override;
    bool handleException() override { return true; }

protected:
    Client* getCurrentClient() const { return currentClient_; }
    // Called on the loop's thread once the connection of `client` has closed, and again when
    // the client is deleted (with the context too, where only this default runs), so an
    // override must accept a second call for one client. The default does nothing.
    virtual void clientClosed(const Client& client);

private:
    friend class rcSysCalls;

    void setUp();
    // Puts back the current client's record as it was before a login that login() refused,
    // so that a refused client is not left logged in.
    void restoreCurrentConnectionInfo(const rcConnectionInfo& previous);
    // Runs one complete request of `client`. True when a reply line is due now: the current
    // result holds it. Asynchronous requests and delayed methods get none here.
    bool processRequest(Client& client);
    // The object with `id` (null for 0); false when `id` is not registered.
    bool findObject(int id, void*& object) const EXCLUDES(objectsLock_);
    Client* findClient(unsigned int id);
    void dropClosedClients();

    std::vector<std::unique_ptr<Client>> clients_;
    std::map<std::string, rcMethod> methods_;
    mutable CoMutex objectsLock_;
    std::map<int, void*> objects_ GUARDED_BY(objectsLock_);
    rcResult currentResult_;
    Client* currentClient_;
    bool valid_;
};

}  // namespace Vantrel
