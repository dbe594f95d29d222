// The server-level methods of the server:
//
//   Ping                   ""                               ""
//   QueryVersion           ""                               "MAJOR MINOR" of the protocol version
//   GetDaemonInfo          (ignored)                        the server record (attribute stream)
//   GetDaemonList          (ignored)                        "Count" and "Node0".. records; this
//                                                           server only, for now
//   Shutdown               ""                               "" and the server stops; refused
//                                                           (error reply) unless the client
//                                                           connected from loopback
//   TranslatePaths         "SRC" SRCOS "DST" DSTOS "P","P"  comma list of translated paths
//   RegisterEvents         stream Port Connection Subject   ""
//   UnregisterEvents       same; an empty Subject: every subject of that connection
//   GetHostTranslations    ""  stream numHostTranslations, "0".. streams srcHost srcPath
//                              dstHost dstPath
//   GetOsTypeTranslations  ""  stream numOsTypeTranslations, "0".. streams srcType srcPath
//                              dstType dstPath
//   GetTranslationGroups   ""  stream numGroups, "0".. texts NAME,NUMBER,HOST,HOST..
//
// The server record: the announced addresses as metadata and data addresses, the node port,
// frame port 0 (frames are not served yet), the host name, the display name (settings, else
// the host name), OS type Linux, the database, the protocol version, product "vantreld" 1.0.0
// by "Vantrel", and the storage id and host UUID kept in the tree directory.
//
// Threads: as the dispatcher (one thread).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "vantrel/client/VantrelDaemonInfo.h"
#include "vantrel/server/MethodDispatcher.h"

namespace vantreld {

class NodeStore;
struct ServerSettings;

// The clients' subscriptions to node events.
class EventRegistry {
public:
    struct Registration {
        unsigned int clientId;
        int port;
        int connection;
        std::string subject;
    };

    // A registration already there is not added twice.
    void add(const Registration& registration);
    // Removes the matching registration; an empty subject removes every subject of that
    // client, port and connection.
    void remove(const Registration& registration);
    const std::vector<Registration>& registrations() const { return registrations_; }

private:
    std::vector<Registration> registrations_;
};

class ServerMethods {
public:
    // None is owned; all must outlive this object. `shutdown` is called (on the loop's
    // thread) after an accepted "Shutdown".
    ServerMethods(const NodeStore& store, const ServerSettings& settings,
                  const ProtocolVersion& version, std::function<void()> shutdown);

    // What the record announces: the addresses clients reach the node port on (at most 5)
    // and that port, and the frame port.
    void setEndpoint(const std::vector<std::string>& addresses, int nodePort, int framePort = 0);
    VantrelDaemonInfo daemonInfo() const;
    // Where "GetDaemonList" takes its servers from (this server first); unset: this server
    // alone. Called on the loop's thread.
    void setKnownServers(std::function<std::vector<VantrelDaemonInfo>()> knownServers) {
        knownServers_ = std::move(knownServers);
    }
    const EventRegistry& events() const { return events_; }

    void registerWith(MethodDispatcher& dispatcher);

    static std::string daemonListStream(const std::vector<VantrelDaemonInfo>& servers);

private:
    std::string translatePaths(const std::string& args) const;
    std::string hostTranslations() const;
    std::string osTypeTranslations() const;
    std::string translationGroups() const;
    static EventRegistry::Registration registration(const Request& request);

    const NodeStore& store_;
    const ServerSettings& settings_;
    const ProtocolVersion version_;
    std::function<void()> shutdown_;
    std::vector<std::string> addresses_;
    std::function<std::vector<VantrelDaemonInfo>()> knownServers_;
    int nodePort_;
    int framePort_ = 0;
    EventRegistry events_;
};

}  // namespace vantreld
