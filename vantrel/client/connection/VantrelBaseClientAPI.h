// VantrelBaseClientAPI: the server-level operations of one server as remote calls on its
// shared connection: ping, version, description, shutdown, path translation, event
// registration and the three translation tables.
//
// Every operation is one synchronous call and answers with bool: false after storing the text
// of the failure (connection failure or the server's error text) in lastError(). Nothing is
// thrown.
//
// Ownership: the connection is not owned and must outlive this object.
// Threads: no lock of its own; one thread at a time. Calls of all clients of one connection
// take turns on its call lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vantrel/client/connection/VantrelBaseInterface.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/VantrelServerHandle.h"

class VantrelClientConnection;

class VantrelBaseClientAPI : public VantrelBaseInterface {
public:
    // The most rows a translation table reply is believed to hold (far above any real table):
    // a larger count is cut to it.
    static constexpr int MAX_TABLE_ROWS = 65536;

    explicit VantrelBaseClientAPI(VantrelClientConnection* connection);
    ~VantrelBaseClientAPI() override;

    // "Ping"; `timeoutMs` also bounds a connection attempt the call makes.
    bool ping(unsigned int timeoutMs);
    // "QueryVersion": the server's two version numbers.
    bool queryVersion(int& major, int& minor);
    // The connection's description, fetched with "GetDaemonInfo" when stale. Null on failure.
    // A snapshot: valid and unchanged while the caller keeps it.
    std::shared_ptr<const VantrelDaemonInfo> daemonInfo();
    bool shutdown() override;

    // "TranslatePaths". Host names must not be null or empty ("Invalid source host name
    // given", "Invalid destination host name given": nothing is sent). `out` is cleared, then
    // gets every item of the reply's comma list, empty items included.
    bool translatePaths(const VantrelStrList& in, VantrelStrList& out, const char* srcHost,
                        const char* dstHost, VantrelOS::OsType srcType,
                        VantrelOS::OsType dstType);

    // "RegisterEvents" / "UnregisterEvents" for `nodeId`, naming the caller's event port and
    // connection number.
    bool registerEvents(int port, int connection, const char* nodeId);
    bool unregisterEvents(int port, int connection, const char* nodeId);

    // The tables; `table` is cleared first and filled in the server's order.
    bool getHostTranslations(std::vector<VantrelServerHandle::HostTranslation>& table);
    bool getOsTypeTranslations(std::vector<VantrelServerHandle::OsTypeTranslation>& table);
    bool getTranslationGroups(std::vector<VantrelServerHandle::TranslationGroup>& table);

    bool isConnected();

    // The argument text of "TranslatePaths" (pure; the prefix is cut at 1023 characters).
    static std::string translatePathsArgs(const VantrelStrList& in, const char* srcHost,
                                          const char* dstHost, VantrelOS::OsType srcType,
                                          VantrelOS::OsType dstType);
    // Reply decoders (pure); malformed input gives empty fields, never an error.
    static void splitList(const std::string& reply, VantrelStrList& out);
    static void decodeHostTranslations(const std::string& reply,
                                       std::vector<VantrelServerHandle::HostTranslation>& table);
    static void decodeOsTypeTranslations(
        const std::string& reply, std::vector<VantrelServerHandle::OsTypeTranslation>& table);
    static void decodeTranslationGroups(const std::string& reply,
                                        std::vector<VantrelServerHandle::TranslationGroup>& table);

private:
    // One synchronous call; false with the text in lastError() on failure.
    bool call(const char* method, const std::string& args, std::string& reply,
              unsigned int timeoutMs);
    bool eventsCall(const char* method, int port, int connection, const char* nodeId,
                    unsigned int timeoutMs);

    VantrelClientConnection* connection_;
};
