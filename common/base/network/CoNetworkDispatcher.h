// The host's interface addresses, sorted into per-use lists by the network configuration, and
// the observers told when they change.
//
// refresh() enumerates the interface addresses that are up (through CoInterfaceEnumerator)
// and builds four lists:
//   ALL        every IPv4 and IPv6 address of an interface that is up, in the system's order;
//   METADATA   those the configured metadata list accepts,
//   DATA       those the configured data list accepts,
//   MULTICAST  those the configured multicast list accepts and that have the "multicast"
//              attribute.
// A configured list that is empty accepts every interface with preference 0; otherwise it
// accepts the interfaces it names, with their name's position in it (from 0) as preference,
// and the loopback interface, which it always accepts (with preference 0 unless it names it).
// Attributes: "loopback" and "ipv4"/"ipv6" as the system reports them, "gateway" for an
// address on the interface of its family's default route, "multicast" for a
// multicast-capable interface that the configured multicast list is empty or names. Every
// throughput is 1000.
// METADATA and MULTICAST are ordered by metadataSort, DATA by dataSort. Each configured name
// that matches no interface that is up is reported with the warning
// "<Metadata|Data|Multicast> interface '<name>' is invalid or down" at every refresh.
//
// Observers hear of the differences between two refreshes: INTERFACE_REMOVED for every
// address that went (or changed), then INTERFACE_ADDED for every new one. The first refresh
// reports every address as added.
//
// Constructed with monitoring on, the dispatcher registers with CoNetworkMonitor and is
// refreshed (forced) on the monitor thread after every address change, whenever CoNetwork is
// initialised.
//
// Threads: every operation may be called from any thread; the lists and the observer set are
// guarded by the dispatcher's lock. Observers are called with that lock held, on the thread
// that refreshes: they may read the dispatcher and add or remove observers, but must not wait
// for another thread that uses it. The last error (CoLastErrLogger) is not locked; read it on
// the thread that got the failure. Destroy a dispatcher only when no other thread uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ipc/CoMutex.h"
#include "loggerBase/CoLastErrLogger.h"
#include "network/CoNetworkInterface.h"
#include "network/CoNetworkMonitor.h"
#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CoInterfaceEnumerator;
class CoNetworkConfig;

class CoNetworkDispatcher : public CoLastErrLogger {
public:
    enum Type { ALL = 0, METADATA = 1, DATA = 2, MULTICAST = 3 };
    enum Event { INTERFACE_ADDED = 0, INTERFACE_REMOVED = 1 };

    // Keeps the interfaces for which it answers true; an empty filter keeps all.
    typedef std::function<bool(const CoNetworkInterface&)> Filter;

    // Listener of interfaces that appear and disappear.
    class Observer {
    public:
        virtual ~Observer();
        virtual void notify(Event event, const CoNetworkInterface& networkInterface) = 0;
    };

    // An interface in a list with its preference (lower is preferred).
    struct Entry {
        std::shared_ptr<const CoNetworkInterface> networkInterface;
        unsigned preference;
    };

    // Both orders decide by the first difference of: lower preference; loopback first;
    // throughput (metadataSort: lower first, dataSort: higher first); "gateway" first; name in
    // ascending byte order. Strict weak orders.
    static bool metadataSort(const Entry& a, const Entry& b);
    static bool dataSort(const Entry& a, const Entry& b);

    // Accepts interfaces with the "ipv4" attribute.
    static bool IPv4Filter(const CoNetworkInterface& networkInterface);

    // "all", "metadata", "data", "multicast"; null for another value.
    static const char* getTypeStr(Type type);
    // The type whose text is `text` exactly; ALL for an unknown text. A null text is a
    // programming error (assertion).
    static Type getTypeFromStr(const char* text);

    // Empty lists, not refreshed yet. With `monitor` not 0 the dispatcher follows address
    // changes (see above). `enumerator` and `config` (not owned; they must outlive the
    // dispatcher) replace the installed enumerator and the process's network configuration.
    explicit CoNetworkDispatcher(unsigned int monitor,
                                 const CoInterfaceEnumerator* enumerator = nullptr,
                                 CoNetworkConfig* config = nullptr);
    // Stops following address changes first, so no refresh runs once it has begun.
    ~CoNetworkDispatcher();
    CoNetworkDispatcher(const CoNetworkDispatcher&) = delete;
    CoNetworkDispatcher& operator=(const CoNetworkDispatcher&) = delete;

    // Rebuilds the lists and tells the observers (see above); without `force` only when the
    // dispatcher has never been refreshed. When the interfaces cannot be enumerated it returns
    // false with the last error "Could not retrieve interfaces list: <reason>", keeps its
    // lists and stays unrefreshed.
    bool refresh(bool force) EXCLUDES(lock_);

    // Replaces `out` with the list of `type`, in its order, keeping what `filter` accepts.
    // Refreshes first when never refreshed; false when that refresh failed (`out` is then a
    // copy of the lists as they were).
    bool getInterfaces(std::vector<CoNetworkInterface>& out, Type type,
                       const Filter& filter = Filter()) EXCLUDES(lock_);

    // Not owned; an observer must be removed before it is destroyed. Adding twice registers
    // once.
    void addObserver(Observer* observer) EXCLUDES(lock_);
    void removeObserver(Observer* observer) EXCLUDES(lock_);

private:
    typedef std::vector<Entry> List;
    struct Lists {
        List all, metadata, data, multicast;
    };
    struct ConfiguredNames {
        std::vector<std::string> metadata, data, multicast;
    };
    class Monitor;

    bool refreshLocked(bool force) REQUIRES(lock_);
    ConfiguredNames readConfiguredNames();
    bool updateInterfaces(const ConfiguredNames& names, Lists& lists);
    void notifyDifferences(const List& before, const List& after) REQUIRES(lock_);
    void notifyObservers(Event event, const CoNetworkInterface& networkInterface) REQUIRES(lock_);
    void printInvalidInterfaces(const ConfiguredNames& names) REQUIRES(lock_);
    const List& listOf(Type type) const REQUIRES(lock_);

    CoMutex lock_;
    Lists lists_ GUARDED_BY(lock_);
    std::vector<Observer*> observers_ GUARDED_BY(lock_);
    bool refreshed_ GUARDED_BY(lock_);
    const CoInterfaceEnumerator* const enumerator_;   // null: the installed one
    CoNetworkConfig* const config_;                    // null: the process's configuration
    std::unique_ptr<Monitor> monitor_;
};

}  // namespace Vantrel
