// The live list of the servers discovery has heard of, and the rules that keep it: cleaning a
// received record, adding or updating, removing, and discarding the silent.
//
// Records are handed out in the order of server lists (VantrelDaemonInfo::operator<, then
// order of arrival), each with the time it was last received as its last activity
// (getLastSeen()). They are indexed by storage id, so an announcement costs a lookup, not a
// pass over the list.
//
// Bounds, against floods of announcements with ever new storage ids: at most `capacity`
// records (MAX_SERVERS, 1024, unless the owner asks for fewer), of which at most
// MAX_WITHOUT_STORAGE_ID (64) without a storage id, and at most MAX_PER_SENDER (32) added by
// the announcements of one sender address (records of fetched server lists have no sender). A new server beyond a bound is not listed (a warning
// is posted when the list first fills); listed servers are still updated, and a flood from
// one address leaves room for everyone else.
//
// Debug level: the environment variable VANTREL_MULTICAST_DEBUG read once at load with atoi
// (0 when unset). Level 1 posts adds, updates, removals, sends and resolutions; level 2 also
// every packet received and every wait. These messages are posted at user level, so that the
// variable alone makes them visible.
//
// Threads: every operation may be called from any thread; the list is guarded by its lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"

class VantrelKnownServers {
public:
    static constexpr int DEFAULT_NODE_PORT = 7549;
    static constexpr const char* DEFAULT_DATABASE = "QLXFS";
    static constexpr size_t MAX_SERVERS = 1024;
    static constexpr size_t MAX_WITHOUT_STORAGE_ID = 64;
    static constexpr size_t MAX_PER_SENDER = 32;

    explicit VantrelKnownServers(size_t capacity = MAX_SERVERS) : capacity_(capacity) {}

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

    // Replaces the listed record of the same server (record rule of VantrelDaemonInfo) or
    // adds it (within the bounds above). With a `sender` (the address an announcement
    // came from), a listed record is replaced only when `sender` is one of its node or data
    // addresses (or it has none): a stranger cannot move a known server elsewhere. Such an
    // announcement is dropped (posted at level 1); once the listed server falls silent and is
    // discarded, the next one is listed. True when the list changed.
    bool addOrUpdate(const VantrelDaemonInfo& record, const char* sender = nullptr)
        EXCLUDES(lock_);
    // Removes the first listed server that the id of `record` names (an announced removal),
    // with a `sender` only when it is one of that server's addresses (as above). True when
    // one was removed.
    bool removeNamedBy(const VantrelDaemonInfo& record, const char* sender = nullptr)
        EXCLUDES(lock_);
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
    struct Listed {
        VantrelDaemonInfo record;
        std::string sender;  // of the announcement that added it; "" for fetched lists
        uint64_t arrival;    // orders equal records
    };
    typedef std::map<std::string, Listed> ByStorageId;

    static bool speaksFor(const VantrelDaemonInfo& listed, const char* sender);
    // The listed server that is the same as `record`, or null.
    Listed* findSame(const VantrelDaemonInfo& record) REQUIRES(lock_);
    // Whether a new server announced by `sender` fits within the bounds.
    bool hasRoomFor(const VantrelDaemonInfo& record, const std::string& sender) REQUIRES(lock_);
    void add(const VantrelDaemonInfo& record, const std::string& sender) REQUIRES(lock_);
    // Removes every listed record for which `drop` holds; returns how many.
    size_t removeIf(const std::function<bool(const VantrelDaemonInfo&)>& drop) REQUIRES(lock_);
    void forget(const Listed& listed) REQUIRES(lock_);
    // Every listed record in list order.
    std::vector<const Listed*> ordered() const REQUIRES(lock_);

    const size_t capacity_;
    mutable Vantrel::CoMutex lock_;
    ByStorageId byStorageId_ GUARDED_BY(lock_);
    std::vector<Listed> withoutStorageId_ GUARDED_BY(lock_);
    std::map<std::string, size_t> addedBySender_ GUARDED_BY(lock_);
    uint64_t arrivals_ GUARDED_BY(lock_) = 0;
    bool fullPosted_ GUARDED_BY(lock_) = false;
};
