#include "network/CoNetworkDispatcher.h"

#include <algorithm>
#include <cstring>

#include "vantrel/CoMsg.h"
#include "network/CoInterfaceEnumerator.h"
#include "network/CoNetworkConfig.h"
#include "osal/CoAssert.h"

namespace Vantrel {
namespace {

// The system does not tell link speeds in a comparable way, so every interface gets the same.
const uint32_t THROUGHPUT = 1000;

const char* const TYPE_TEXTS[] = {"all", "metadata", "data", "multicast"};

bool positionOf(const std::vector<std::string>& names, const std::string& name,
                unsigned& position) {
    const auto found = std::find(names.begin(), names.end(), name);
    position = static_cast<unsigned>(found - names.begin());
    return found != names.end();
}

bool isNamed(const std::vector<std::string>& names, const std::string& name) {
    unsigned position = 0;
    return positionOf(names, name, position);
}

// Whether a configured list takes the interface, and with which preference.
bool accepts(const std::vector<std::string>& names, const CoNetworkInterface& networkInterface,
             unsigned& preference) {
    preference = 0;
    if (names.empty()) return true;
    if (positionOf(names, networkInterface.getName(), preference)) return true;
    preference = 0;
    return networkInterface.isLoopback();
}

uint32_t attributesOf(const CoRawInterface& raw, const std::vector<std::string>& multicastNames) {
    uint32_t attributes = raw.family == CoAddressFamily::IPV4 ? CoNetworkInterface::IPV4
                                                              : CoNetworkInterface::IPV6;
    if (raw.loopback) attributes |= CoNetworkInterface::LOOPBACK;
    if (raw.gateway) attributes |= CoNetworkInterface::GATEWAY;
    if (raw.multicast && (multicastNames.empty() || isNamed(multicastNames, raw.name)))
        attributes |= CoNetworkInterface::MULTICAST;
    return attributes;
}

void addIfAccepted(std::vector<CoNetworkDispatcher::Entry>& list,
                   const std::vector<std::string>& names,
                   const std::shared_ptr<const CoNetworkInterface>& networkInterface) {
    unsigned preference = 0;
    if (accepts(names, *networkInterface, preference))
        list.push_back({networkInterface, preference});
}

bool contains(const std::vector<CoNetworkDispatcher::Entry>& list,
              const CoNetworkInterface& networkInterface) {
    return std::any_of(list.begin(), list.end(), [&](const CoNetworkDispatcher::Entry& entry) {
        return *entry.networkInterface == networkInterface;
    });
}

bool hasInterfaceNamed(const std::vector<CoNetworkDispatcher::Entry>& list,
                       const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const CoNetworkDispatcher::Entry& entry) {
        return entry.networkInterface->getName() == name;
    });
}

// The order shared by both sorts; they differ only in which throughput comes first.
bool entryBefore(const CoNetworkDispatcher::Entry& a, const CoNetworkDispatcher::Entry& b,
                 bool higherThroughputFirst) {
    const CoNetworkInterface& x = *a.networkInterface;
    const CoNetworkInterface& y = *b.networkInterface;
    if (a.preference != b.preference) return a.preference < b.preference;
    if (x.isLoopback() != y.isLoopback()) return x.isLoopback();
    if (x.getThroughput() != y.getThroughput())
        return (x.getThroughput() > y.getThroughput()) == higherThroughputFirst;
    const bool xGateway = x.hasAttributes(CoNetworkInterface::GATEWAY);
    if (xGateway != y.hasAttributes(CoNetworkInterface::GATEWAY)) return xGateway;
    return x.getName() < y.getName();
}

}  // namespace

// Refreshes its dispatcher when the host's addresses change.
class CoNetworkDispatcher::Monitor : public CoNetworkMonitor::Observer {
public:
    explicit Monitor(CoNetworkDispatcher& dispatcher) : dispatcher_(dispatcher) {
        CoNetworkMonitor::getInstance().addObserver(this);
    }
    ~Monitor() override { CoNetworkMonitor::getInstance().removeObserver(this); }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    void notify() override { dispatcher_.refresh(true); }

private:
    CoNetworkDispatcher& dispatcher_;
};

CoNetworkDispatcher::Observer::~Observer() = default;

bool CoNetworkDispatcher::metadataSort(const Entry& a, const Entry& b) {
    return entryBefore(a, b, false);
}

bool CoNetworkDispatcher::dataSort(const Entry& a, const Entry& b) {
    return entryBefore(a, b, true);
}

bool CoNetworkDispatcher::IPv4Filter(const CoNetworkInterface& networkInterface) {
    return networkInterface.hasAttributes(CoNetworkInterface::IPV4);
}

const char* CoNetworkDispatcher::getTypeStr(Type type) {
    const bool known = type >= ALL && type <= MULTICAST;
    return known ? TYPE_TEXTS[type] : nullptr;
}

CoNetworkDispatcher::Type CoNetworkDispatcher::getTypeFromStr(const char* text) {
    CO_ASSERT(text != nullptr);
    for (int type = ALL; type <= MULTICAST; ++type)
        if (std::strcmp(TYPE_TEXTS[type], text) == 0) return static_cast<Type>(type);
    return ALL;
}

CoNetworkDispatcher::CoNetworkDispatcher(unsigned int monitor,
                                         const CoInterfaceEnumerator* enumerator,
                                         CoNetworkConfig* config)
    : refreshed_(false), enumerator_(enumerator), config_(config) {
    if (monitor != 0) monitor_.reset(new Monitor(*this));
}

CoNetworkDispatcher::~CoNetworkDispatcher() {
    monitor_.reset();
}

bool CoNetworkDispatcher::refresh(bool force) {
    CoMutexGuard guard(lock_);
    return refreshLocked(force);
}

bool CoNetworkDispatcher::refreshLocked(bool force) {
    if (refreshed_ && !force) return true;
    const ConfiguredNames names = readConfiguredNames();
    Lists fresh;
    if (!updateInterfaces(names, fresh)) return false;
    std::stable_sort(fresh.metadata.begin(), fresh.metadata.end(), metadataSort);
    std::stable_sort(fresh.multicast.begin(), fresh.multicast.end(), metadataSort);
    std::stable_sort(fresh.data.begin(), fresh.data.end(), dataSort);
    const List before = lists_.all;
    lists_ = fresh;
    // Marked before the observers run, so that one reading the lists does not refresh again;
    // they are told from local copies, since one of them may still force a refresh that
    // replaces lists_.
    refreshed_ = true;
    notifyDifferences(before, fresh.all);
    printInvalidInterfaces(names);
    return true;
}

bool CoNetworkDispatcher::getInterfaces(std::vector<CoNetworkInterface>& out, Type type,
                                        const Filter& filter) {
    CoMutexGuard guard(lock_);
    const bool refreshed = refreshLocked(false);
    out.clear();
    for (const Entry& entry : listOf(type))
        if (!filter || filter(*entry.networkInterface)) out.push_back(*entry.networkInterface);
    return refreshed;
}

void CoNetworkDispatcher::addObserver(Observer* observer) {
    CoMutexGuard guard(lock_);
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void CoNetworkDispatcher::removeObserver(Observer* observer) {
    CoMutexGuard guard(lock_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer),
                     observers_.end());
}

CoNetworkDispatcher::ConfiguredNames CoNetworkDispatcher::readConfiguredNames() {
    CoNetworkConfig& config = config_ != nullptr ? *config_ : CoNetworkConfig::getInstance();
    ConfiguredNames names;
    config.getMetadataInterfaces(names.metadata);
    config.getDataInterfaces(names.data);
    config.getMulticastInterfaces(names.multicast);
    return names;
}

bool CoNetworkDispatcher::updateInterfaces(const ConfiguredNames& names, Lists& lists) {
    const CoInterfaceEnumerator& enumerator =
        enumerator_ != nullptr ? *enumerator_ : CoInterfaceEnumerator::current();
    std::vector<CoRawInterface> raws;
    std::string error;
    if (!enumerator.enumerate(raws, error)) {
        setModule(__FILE__, __LINE__).postError("Could not retrieve interfaces list: %s",
                                                error.c_str());
        return false;
    }
    for (const CoRawInterface& raw : raws) {
        if (!raw.up || raw.family == CoAddressFamily::OTHER) continue;
        const auto networkInterface = std::make_shared<const CoNetworkInterface>(
            raw.name, attributesOf(raw, names.multicast), raw.address, raw.netmask, THROUGHPUT);
        lists.all.push_back({networkInterface, 0});
        addIfAccepted(lists.metadata, names.metadata, networkInterface);
        addIfAccepted(lists.data, names.data, networkInterface);
        if (networkInterface->hasAttributes(CoNetworkInterface::MULTICAST))
            addIfAccepted(lists.multicast, names.multicast, networkInterface);
    }
    return true;
}

void CoNetworkDispatcher::notifyDifferences(const List& before, const List& after) {
    for (const Entry& entry : before)
        if (!contains(after, *entry.networkInterface))
            notifyObservers(INTERFACE_REMOVED, *entry.networkInterface);
    for (const Entry& entry : after)
        if (!contains(before, *entry.networkInterface))
            notifyObservers(INTERFACE_ADDED, *entry.networkInterface);
}

void CoNetworkDispatcher::notifyObservers(Event event,
                                          const CoNetworkInterface& networkInterface) {
    // A copy, so an observer may add or remove observers (itself included) while it is told;
    // those it removed are skipped.
    const std::vector<Observer*> observers = observers_;
    for (Observer* observer : observers)
        if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
            observer->notify(event, networkInterface);
}

void CoNetworkDispatcher::printInvalidInterfaces(const ConfiguredNames& names) {
    const struct {
        const char* label;
        const std::vector<std::string>& names;
    } configured[] = {
        {"Metadata", names.metadata}, {"Data", names.data}, {"Multicast", names.multicast}};
    for (const auto& list : configured)
        for (const std::string& name : list.names)
            if (!hasInterfaceNamed(lists_.all, name))
                CO_MSG_WARNING("%s interface '%s' is invalid or down", list.label, name.c_str());
}

const CoNetworkDispatcher::List& CoNetworkDispatcher::listOf(Type type) const {
    switch (type) {
    case METADATA: return lists_.metadata;
    case DATA: return lists_.data;
    case MULTICAST: return lists_.multicast;
    case ALL: break;
    }
    return lists_.all;
}

}  // namespace Vantrel
