// VantrelServerHandle: the application's handle on one server.
//
// A handle names its server by a VantrelServerId and contacts nothing when made. Its first
// operation that needs the server binds it to the process's shared connection of that server
// (every handle naming the same server shares one link), and the first remote call opens the
// link. Operations answer with bool; false always leaves the reason in lastError().
//
// The server's description (identity, protocol version) lives in the shared connection and
// is fetched after each (re)connection on first request. The translation tables are fetched
// once per handle, on first request, and kept for the handle's life.
//
// Ownership: the handle owns its implementation (VantrelServerImp) and, through it, one
// reference on the shared connection, released by the destructor (the connection itself stays
// cached). A copy gets an implementation of its own for the same server id, which finds the
// same shared connection. Node handles made from a server handle refer to it: the server
// handle must outlive them.
//
// Threads: no lock of its own; one handle is used by one thread at a time, together with the
// node handles made on it (they share its last error). Handles of the same server may be used
// from different threads: their calls take turns on the shared connection.
// stop() is the one operation meant for another thread: it cuts the waiting call short (see
// stop() for what it reaches).
//
// Requires an initialised library (VantrelClientInit); without it, operations fail with
// "Vantrel client library not initialised.".
#pragma once

#include "vantrel/VantrelIds.h"
#include "vantrel/VantrelNodeEvent.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/VantrelServerId.h"
#include "vantrel/VantrelStr.h"
#include "vantrel/VantrelExport.h"

class VantrelNodeHandle;
class VantrelServerImp;
class VantrelServerInfo;

class VANTREL_API VantrelServerHandle {
public:
    // A rule of the server for translating paths from one host to another.
    struct HostTranslation {
        VantrelStr srcHost;
        VantrelStr srcPath;
        VantrelStr dstHost;
        VantrelStr dstPath;
    };

    // A rule for translating paths from one kind of operating system to another; the types
    // are the server's texts ("Linux", "WindowsNT", ...).
    struct OsTypeTranslation {
        VantrelStr srcType;
        VantrelStr srcPath;
        VantrelStr dstType;
        VantrelStr dstPath;
    };

    // A named group of hosts.
    struct TranslationGroup {
        VantrelStr name;
        int number = 0;
        VantrelStrList entries;
    };

    // The server named by `id` (text form of VantrelServerId; null or empty gives the empty id).
    VantrelServerHandle(const char* id = "localhost");
    VantrelServerHandle(const VantrelServerId& id);
    // Binds `other` first (ignoring failure), then names the same server with a fresh
    // implementation.
    VantrelServerHandle(const VantrelServerHandle& other);
    VantrelServerHandle& operator=(const VantrelServerHandle&) = delete;
    virtual ~VantrelServerHandle();

    // The text of the last failure of this handle or of a node handle on it ("" when none),
    // kept until the next failure: successes do not clear it. Valid until the next operation.
    const char* lastError() const;

    // The stored id; answers even when binding fails.
    const VantrelServerId& getId() const;
    const char* getIdStr() const;

    // From the server's description; false when it cannot be obtained.
    bool getInfo(VantrelServerInfo& info) const;
    bool getDisplayName(VantrelStr& name) const;
    bool getStorageId(VantrelStr& id) const;
    // Null when the description cannot be obtained; otherwise valid while the handle lives,
    // until the next call on this handle that reads the server's description.
    const char* getHostName() const;
    const char* getHostUUID() const;
    bool getProtocolVersion(int& major, int& minor) const;

    // Asked of the server's node service.
    bool getVendor(VantrelStr& vendor) const;
    bool getProduct(VantrelStr& product) const;
    bool getVersion(int& major, int& minor) const;

    // "Ping" with `timeout` milliseconds, which also bounds a connection attempt it makes.
    bool ping(unsigned int timeout) const;
    // False when not bound; otherwise whether the shared link is open.
    bool isConnected() const;
    // From any thread: makes the node call in progress on this server's shared link fail
    // with `msg`, whichever handle of the server made it. A handle that has made no call yet
    // is bound for it (no traffic), so any handle of the server can stop the link's call.
    // Frame, stream and file transfers use data connections of each handle's own (to the
    // frame port and to redirect targets): stop() makes those of this handle fail, a connect
    // under way included, and does not reach the transfers of other handles of the server.
    void stop(const char* msg) const;
    // Closes the shared link for every handle of this server; the next call reconnects. The
    // disconnect callback is not called for it.
    void disconnect();

    // The server translates each path of `in` from `srcHost` / `srcType` to `dstHost` /
    // `dstType`. A null source host means the server's display name, a null destination host
    // the server's host name. `out` is replaced by the server's list. The paths travel in
    // UTF-8, converted from and to the locale as node texts are (see VantrelNodeHandle.h).
    bool translatePaths(const VantrelStrList& in, VantrelStrList& out, const char* srcHost,
                        const char* dstHost, VantrelOS::OsType srcType,
                        VantrelOS::OsType dstType);
    // One path; `out` becomes "" when the server answers with no path, and is left alone on
    // failure.
    bool translatePath(const VantrelStr& in, VantrelStr& out, const char* srcHost,
                       const char* dstHost, VantrelOS::OsType srcType,
                       VantrelOS::OsType dstType);

    // The server's translation tables. An index below 0 or not below the count fails with
    // "Host Translation index out of range", "OS Type Translation index out of range" or
    // "Translation group index out of range".
    bool getNumHostTranslations(int& count);
    bool getHostTranslation(int index, HostTranslation& translation);
    bool getNumOsTypeTranslations(int& count);
    bool getOsTypeTranslation(int index, OsTypeTranslation& translation);
    bool getNumTranslationGroups(int& count);
    bool getTranslationGroup(int index, TranslationGroup& group);

    // The root of the server's node tree; `node` then refers to this handle.
    bool getRootNode(VantrelNodeHandle& node) const;

    // Events on nodes (VantrelEventMonitor.h). `handler` must not be null; it is not owned and
    // runs on the library's event thread. Registering fails with the server's or the link's
    // text when the node's first handler cannot be registered. Unregistering answers true when
    // this handle never had an event connection, false for a node without handlers here; once
    // it returns (on an application thread) the handler is not running and will not run again.
    bool registerEventHandler(const VantrelNodeId& node, VantrelNodeEvent::Handler* handler);
    bool unregisterEventHandler(const VantrelNodeId& node, VantrelNodeEvent::Handler* handler);

    // Frames and streams, on the server's frame port. `frameId` and the read-ahead ids are
    // frame id texts (null counts as none).
    bool readFrame(const char* frameId, void* buffer, unsigned int size,
                   const char* readAheadId1 = nullptr, const char* readAheadId2 = nullptr) const;
    bool readFrame(const char* frameId, const void* params, unsigned int paramsLength,
                   void* buffer, unsigned int size, const char* readAheadId1 = nullptr,
                   const char* readAheadId2 = nullptr) const;
    bool writeFrame(const char* frameId, const void* data, unsigned int size) const;
    bool readStream(const char* id, void* buffer, unsigned int size, int first, int unitSize,
                    int& count) const;
    bool pushStream(const char* remoteName, const char* localPath) const;
    bool pullStream(const char* remoteName, const char* localPath) const;
    bool invalidateCache() const;

    // The implementation, for the other parts of the library.
    VantrelServerImp* imp() const;

private:
    VantrelServerImp* imp_;
};
