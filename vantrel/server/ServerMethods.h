// The server-level methods of the server (the event registrations are EventService's):
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

#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/server/MethodDispatcher.h"

namespace vantreld {

class NodeStore;
struct ServerSettings;

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

    void registerWith(MethodDispatcher& dispatcher);

    static std::string daemonListStream(const std::vector<VantrelDaemonInfo>& servers);

private:
    std::string translatePaths(const std::string& args) const;
    std::string hostTranslations() const;
    std::string osTypeTranslations() const;
    std::string translationGroups() const;

    const NodeStore& store_;
    const ServerSettings& settings_;
    const ProtocolVersion version_;
    std::function<void()> shutdown_;
    std::vector<std::string> addresses_;
    std::function<std::vector<VantrelDaemonInfo>()> knownServers_;
    int nodePort_;
    int framePort_ = 0;
};

}  // namespace vantreld
