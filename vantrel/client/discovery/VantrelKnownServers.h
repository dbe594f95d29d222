// The live list of the servers discovery has heard of, and the rules that keep it: cleaning a
// received record, adding or updating, removing, and discarding the silent.
//
// Records are kept in the order of server lists (VantrelDaemonInfo::operator<), each with the
// time it was last received as its last activity (getLastSeen()), at most `capacity` of them
// (a list fed by a hostile network stays bounded). An addition finds its place by a binary
// search and moves the records after it, without sorting the list again.
//
// Debug level: the environment variable VANTREL_MULTICAST_DEBUG read once at load with atoi
// (0 when unset). Level 1 posts adds, updates, removals, sends and resolutions; level 2 also
// every packet received and every wait. These messages are posted at user level, so that the
// variable alone makes them visible.
//
// Threads: every operation may be called from any thread; the list is guarded by its lock.
#pragma once

#include <cstdint>
#include <cstddef>
#include <vector>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"

class VantrelKnownServers {
public:
    static constexpr int DEFAULT_NODE_PORT = 7549;
    static constexpr const char* DEFAULT_DATABASE = "QLXFS";

    // The level of VANTREL_MULTICAST_DEBUG; tests may change it.
    static int debugLevel();
    static void setDebugLevel(int level);

    // Makes a received record usable from here, `sender` being the address it came from:
    //   1. `sender`, when not among the record's metadata addresses, fills the first empty
    //      slot (nothing when all five are taken);
    //   2. unless the record describes this host (isLocal()), loopback addresses are removed
    //      from both address lists, the others moving up;
    //   3. node port 0 becomes DEFAULT_NODE_PORT, an empty database DEFAULT_DATABASE.
    static void cleanUp(VantrelDaemonInfo& record, const char* sender);

    explicit VantrelKnownServers(size_t capacity = SIZE_MAX) : capacity_(capacity) {}

    // Replaces the listed record of the same server (record rule of VantrelDaemonInfo) or
    // adds it in its place in the order; false (nothing changed) when it is a new server and
    // the list holds `capacity` records already.
    bool addOrUpdate(const VantrelDaemonInfo& record) EXCLUDES(lock_);
    // Removes the first listed server that the id of `record` names (an announced removal).
    // True when one was removed.
    bool removeNamedBy(const VantrelDaemonInfo& record) EXCLUDES(lock_);
    // Removes every listed record of the same server as `record` (a server that stopped
    // answering). True when one was removed.
    bool removeSame(const VantrelDaemonInfo& record) EXCLUDES(lock_);
    // Renews the activity time of the listed record of the same server as `record`; false
    // when it is not listed.
    bool touch(const VantrelDaemonInfo& record, uint64_t now) EXCLUDES(lock_);
    // Removes every record last heard of before now - 2 x resync time. Returns how many.
    size_t discardInactive(uint64_t now, uint64_t resyncMicros) EXCLUDES(lock_);

    // The first listed record that `id` names (record-against-id rule), into `out`.
    bool resolve(const VantrelServerId& id, VantrelDaemonInfo& out) const EXCLUDES(lock_);
    // The listed records whose database equals `database`, or all of them for null.
    std::vector<VantrelDaemonInfo> copy(const char* database) const EXCLUDES(lock_);
    size_t size() const EXCLUDES(lock_);
    void clear() EXCLUDES(lock_);

private:
    const size_t capacity_;
    mutable Vantrel::CoMutex lock_;
    std::vector<VantrelDaemonInfo> servers_ GUARDED_BY(lock_);
};
