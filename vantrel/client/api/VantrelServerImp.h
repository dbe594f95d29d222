// VantrelServerImp: what stands behind a VantrelServerHandle. It binds lazily to the shared
// connection of its server id and owns the clients made on it (server-level and node client),
// the handle's copies of the translation tables and the last error text. It also provides the
// server's description to the node and frame parts (VantrelDaemonInfoMgr).
//
// Binding (bind()) makes no traffic: it takes the shared connection from the process's cache
// and creates the clients on it, once per implementation.
//
// Ownership: owned by its handle; owns the clients and one reference on the shared connection.
// Threads: used by the thread that uses its handle, except boundConnection() and
// bindForStop(), which any thread may call; binding itself is done once, under a lock.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/client/events/VantrelEventMonitor.h"
#include "vantrel/VantrelServerHandle.h"
#include "vantrel/VantrelServerId.h"

class VantrelBaseClientAPI;
class VantrelNodeClientAPI;
class VantrelServerFrames;

class VantrelServerImp : public VantrelDaemonInfoMgr {
public:
    explicit VantrelServerImp(const VantrelServerId& id);
    ~VantrelServerImp() override;
    VantrelServerImp(const VantrelServerImp&) = delete;
    VantrelServerImp& operator=(const VantrelServerImp&) = delete;

    // Takes the shared connection and creates the clients on it, unless done already. A
    // binding made before the library was shut down is dropped and made again (failing with
    // "Vantrel client library not initialised." while the library is not initialised). False
    // with the reason in lastError() when no connection can be had.
    bool bind();

    // Each binds first; null when binding fails (the reason is in lastError()). Owned by this
    // object; valid while it lives.
    VantrelNodeClientAPI* nodeClient();
    VantrelBaseClientAPI* baseClient();
    VantrelClientConnection* connection();
    // The frame operations (data connection and frame client); made with this object, so
    // another thread may reach it to stop a transfer.
    VantrelServerFrames& frames() const { return *frames_; }
    // The event connection, made at binding when the event monitor runs; null otherwise.
    // events() binds first, existingEvents() does not.
    VantrelEventMonitor::Connection* events();
    VantrelEventMonitor::Connection* existingEvents() const { return events_.get(); }

    // The server's description, refreshed after a reconnection; null with the reason in
    // lastError() when it cannot be had. A snapshot kept by this object: valid and unchanged
    // until the next call of getDaemonInfo() on it, whatever other handles refresh meanwhile.
    const VantrelDaemonInfo* getDaemonInfo() override;
    // Records that the description's addresses failed; the description itself is fetched
    // again after the next reconnection.
    void invalidateDaemonInfo() override;
    const char* lastError() const override { return lastError_.c_str(); }
    void setLastError(const std::string& text) { lastError_ = text; }
    void setLastError(const char* text) { lastError_ = text != nullptr ? text : ""; }

    const VantrelServerId& serverId() const { return serverId_; }
    bool isBound() const { return shared_.isLive(); }
    // The bound connection without binding, or null: for another thread (to stop the call in
    // progress).
    VantrelClientConnection* boundConnection() const { return connection_.load(); }
    // Binds as bind() does but leaves lastError() alone (its thread may be using it), and
    // answers the connection, or null when none can be had. From any thread.
    VantrelClientConnection* bindForStop();

    // The translation tables, each fetched once (on first use) and kept.
    bool getNumHostTranslations(int& count);
    bool getHostTranslation(int index, VantrelServerHandle::HostTranslation& translation);
    bool getNumOsTypeTranslations(int& count);
    bool getOsTypeTranslation(int index, VantrelServerHandle::OsTypeTranslation& translation);
    bool getNumTranslationGroups(int& count);
    bool getTranslationGroup(int index, VantrelServerHandle::TranslationGroup& group);

    bool translatePaths(const VantrelStrList& in, VantrelStrList& out, const char* srcHost,
                        const char* dstHost, VantrelOS::OsType srcType,
                        VantrelOS::OsType dstType);

private:
    // Binding itself, under bindLock_; false with the reason in `error`.
    bool attach(std::string& error);
    // Fetches `table` with `fetch` of the base client when `stale` is set.
    template <class Record>
    bool refreshTable(std::vector<Record>& table, bool& stale,
                      bool (VantrelBaseClientAPI::*fetch)(std::vector<Record>&));
    template <class Record>
    bool copyRecord(const std::vector<Record>& table, int index, Record& out,
                    const char* rangeError);

    // Drops the clients, the description and the shared connection.
    void unbind();

    // Binding may come from the thread of stop() as well as from the handle's own.
    Vantrel::CoMutex bindLock_;
    VantrelClientConnection::Shared shared_;
    VantrelClientConnection::DaemonInfoSnapshot info_;
    std::atomic<VantrelClientConnection*> connection_{nullptr};
    std::unique_ptr<VantrelBaseClientAPI> baseClient_;
    std::unique_ptr<VantrelNodeClientAPI> nodeClient_;
    std::unique_ptr<VantrelServerFrames> frames_;
    std::unique_ptr<VantrelEventMonitor::Connection> events_;
    std::vector<VantrelServerHandle::TranslationGroup> translationGroups_;
    std::vector<VantrelServerHandle::HostTranslation> hostTranslations_;
    std::vector<VantrelServerHandle::OsTypeTranslation> osTypeTranslations_;
    std::string lastError_;
    VantrelServerId serverId_;
    bool recordSuspect_ = true;
    bool translationGroupsStale_ = true;
    bool hostTranslationsStale_ = true;
    bool osTypeTranslationsStale_ = true;
};
