// Turns one request (method name and argument text) into one reply (ok or error, and a text),
// playing a server of a given protocol version.
//
// Handlers are plain functions of the request that return the reply text and throw to fail:
// the text of a ServerError or of any standard exception becomes the error reply. A method
// that was never added, or that the played generation does not know yet (ProtocolVersion),
// is answered with "Unknown method: NAME", as an old server would. Every request is recorded
// in the request log, known or not, with its client and its result.
//
// Threads: add() before use; dispatch() from one thread at a time (the server's loop).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "vantrel/server/ProtocolVersion.h"

namespace vantreld {

class RequestLog;

struct Request {
    std::string method;
    std::string args;
    unsigned int clientId = 0;  // the remote-call client the request came from
    bool fromLoopback = true;   // whether that client connected from this host's loopback
    std::string peer;           // the client's address, when known
    uint64_t session = 0;       // the node connection, unique for the server's life
};

struct Reply {
    bool ok;
    std::string text;
};

class MethodDispatcher {
public:
    typedef std::function<std::string(const Request&)> Handler;

    // `log` (not owned, may be null) must outlive the dispatcher.
    MethodDispatcher(const ProtocolVersion& version, RequestLog* log);

    // A second handler for the same name replaces the first.
    void add(const std::string& method, Handler handler);
    Reply dispatch(const Request& request) const;

    const ProtocolVersion& version() const { return version_; }
    // Every method added, known to the played generation or not, in name order.
    std::vector<std::string> methods() const;

private:
    Reply handle(const Request& request) const;

    const ProtocolVersion version_;
    RequestLog* const log_;
    std::map<std::string, Handler> handlers_;
};

}  // namespace vantreld
