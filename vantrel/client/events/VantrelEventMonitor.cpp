#include "vantrel/client/events/VantrelEventMonitor.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"
#include "osal/CoEnvSettings.h"
#include "rcApi/rcMethod.h"
#include "tcp/CoSocketApi.h"
#include "threads/CoThread.h"
#include "threads/CoThreadMgr.h"
#include "vantrel/client/connection/VantrelBaseClientAPI.h"
#include "vantrel/protocol/EventWire.h"

namespace {

// How long one pass of the monitor's loop waits: the longest a stop waits for the thread.
constexpr long LOOP_PASS_US = 100000;
constexpr int LAST_PORT = 65535;

std::atomic<VantrelEventMonitor*> running{nullptr};
std::mutex limitsLock;
VantrelEventMonitor::Limits currentLimits;  // guarded by limitsLock
std::atomic<unsigned int> nextConnectionId{1};
thread_local bool isMonitorThread = false;

// Read when the library is loaded; a program (or a test) may change it through the settings
// registry before the monitor starts.
Vantrel::CoEnvStringSetting& portSetting() {
    static Vantrel::CoEnvStringSetting setting(VantrelEventMonitor::PORT_VARIABLE, "");
    return setting;
}
[[maybe_unused]] const bool portSettingReadAtLoad = (portSetting(), true);

// An IPv4 peer of a socket listening on every IPv6 address shows as "::ffff:a.b.c.d".
std::string plainAddress(const std::string& address) {
    const std::string mapped = "::ffff:";
    const bool isMapped = address.compare(0, mapped.size(), mapped) == 0 &&
                          address.find('.') != std::string::npos;
    return isMapped ? address.substr(mapped.size()) : address;
}

const Vantrel::rcParam::Info NODE_EVENT_PARAMS[] = {{&Vantrel::rcParamString::TYPE, "stream"},
                                                    {nullptr, nullptr}};

}  // namespace

// ------------------------------------------------------------------------------- Subjects

// The handlers of one connection per node, read by the monitor thread while application
// threads change them. The lock is held only to read or change the map, never across a call
// out, so a handler may change the map from inside handleEvent.
class VantrelEventMonitor::Subjects {
public:
    typedef VantrelNodeEvent::Handler Handler;
    enum class Removal { NODE_ABSENT, HANDLERS_LEFT, NONE_LEFT };

    bool has(const VantrelNodeId& node) {
        std::lock_guard<std::mutex> guard(lock_);
        return handlers_.count(node) > 0;
    }
    void add(const VantrelNodeId& node, Handler* handler) {
        std::lock_guard<std::mutex> guard(lock_);
        handlers_[node].push_back(handler);
    }
    // Takes out the first registration of `handler` for `node`.
    Removal remove(const VantrelNodeId& node, Handler* handler) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = handlers_.find(node);
        if (found == handlers_.end()) return Removal::NODE_ABSENT;
        std::vector<Handler*>& list = found->second;
        const auto at = std::find(list.begin(), list.end(), handler);
        if (at != list.end()) list.erase(at);
        return list.empty() ? Removal::NONE_LEFT : Removal::HANDLERS_LEFT;
    }
    // Forgets `node` when it still has no handler (one may have come meanwhile).
    void eraseIfEmpty(const VantrelNodeId& node) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = handlers_.find(node);
        if (found != handlers_.end() && found->second.empty()) handlers_.erase(found);
    }
    // The addresses of the server this connection registers with: only calls from one of
    // them may deliver its events.
    void setServerAddresses(std::vector<std::string> addresses) {
        std::lock_guard<std::mutex> guard(lock_);
        serverAddresses_ = std::move(addresses);
    }
    bool isServerAddress(const std::string& peer) {
        const std::string address = plainAddress(peer);
        std::lock_guard<std::mutex> guard(lock_);
        return std::find(serverAddresses_.begin(), serverAddresses_.end(), address) !=
               serverAddresses_.end();
    }
    std::vector<VantrelNodeId> nodes() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<VantrelNodeId> ids;
        for (const auto& entry : handlers_) ids.push_back(entry.first);
        return ids;
    }
    // Forgets every handler; waits for one that runs, unless on the monitor thread.
    void clear() {
        std::unique_lock<std::mutex> guard(lock_);
        handlers_.clear();
        if (!onMonitorThread()) idle_.wait(guard, [this] { return running_ == nullptr; });
    }
    // Waits until `handler` is not running (returns at once on the monitor thread, where it
    // could only be waiting for itself).
    void waitUntilNotRunning(Handler* handler) {
        if (onMonitorThread()) return;
        std::unique_lock<std::mutex> guard(lock_);
        idle_.wait(guard, [this, handler] { return running_ != handler; });
    }

    // Calls the handlers the node had when the event arrived, in order, each only if it is
    // still registered when its turn comes.
    void dispatch(const VantrelNodeEvent& event) {
        const VantrelNodeId& node = event.getNodeId();
        std::vector<Handler*> snapshot;
        {
            std::lock_guard<std::mutex> guard(lock_);
            const auto found = handlers_.find(node);
            if (found == handlers_.end()) return;
            snapshot = found->second;
        }
        for (Handler* handler : snapshot) {
            if (!markRunning(node, handler)) continue;
            handler->handleEvent(event);
            std::lock_guard<std::mutex> guard(lock_);
            running_ = nullptr;
            idle_.notify_all();
        }
    }

private:
    bool markRunning(const VantrelNodeId& node, Handler* handler) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = handlers_.find(node);
        if (found == handlers_.end()) return false;
        const std::vector<Handler*>& list = found->second;
        if (std::find(list.begin(), list.end(), handler) == list.end()) return false;
        running_ = handler;
        return true;
    }

    std::mutex lock_;
    std::condition_variable idle_;
    std::map<VantrelNodeId, std::vector<Handler*>> handlers_;
    std::vector<std::string> serverAddresses_;  // numeric, IPv4 ones without IPv6 mapping
    Handler* running_ = nullptr;  // the handler the monitor thread is calling
};

// -------------------------------------------------------------------- Connection

class VantrelEventMonitor::Connection::ConnectCallback
    : public VantrelClientConnection::ConnectCallback {
public:
    explicit ConnectCallback(Connection& owner) : owner_(owner) {}
    void connected() override {
        owner_.replayPending_ = true;
        owner_.runPendingReplay();
    }

private:
    Connection& owner_;
};

VantrelEventMonitor::Connection::Connection(VantrelClientConnection* link)
    : id_(nextConnectionId++),
      link_(link),
      base_(new VantrelBaseClientAPI(link)),
      subjects_(std::make_shared<Subjects>()),
      callback_(new ConnectCallback(*this)) {
    VantrelEventMonitor* monitor = instance();
    CO_ASSERT_TEXT(monitor != nullptr, "event monitor running");
    monitor->addConnection(id_, subjects_);
    link_->addConnectCallback(callback_.get());
}

VantrelEventMonitor::Connection::~Connection() {
    // First, so that no replay starts on another thread while this object goes.
    link_->removeConnectCallback(callback_.get());
    {
        Vantrel::CoMutexGuard guard(changesLock_);
        // A closed link is not opened again only to say goodbye: the server forgets a
        // client's registrations when its connection closes.
        if (everRegistered_ && base_->isConnected() &&
            !send(&VantrelBaseClientAPI::unregisterEvents, ""))
            CO_MSG_DEBUG("%s", base_->lastError().c_str());
    }
    if (VantrelEventMonitor* monitor = instance()) monitor->removeConnection(id_, subjects_.get());
    subjects_->clear();
}

void VantrelEventMonitor::Connection::noteServerAddresses() {
    std::vector<std::string> addresses{plainAddress(link_->serverId().getIPAddr())};
    const VantrelClientConnection::DaemonInfoSnapshot record = link_->daemonInfo(true);
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i) {
        for (const char* address : {record->getIPAddr(i), record->getFrameIPAddr(i)})
            if (*address != '\0') addresses.push_back(plainAddress(address));
    }
    subjects_->setServerAddresses(std::move(addresses));
}

bool VantrelEventMonitor::Connection::send(Registration call, const char* subject) {
    VantrelEventMonitor* monitor = instance();
    if (monitor == nullptr) {
        setModule(__FILE__, __LINE__).postError("The event monitor is not running.");
        return false;
    }
    // Before the call too: the server may call back before its reply arrives.
    noteServerAddresses();
    const bool sent = (base_.get()->*call)(monitor->port(), static_cast<int>(id_), subject);
    noteServerAddresses();  // the call may have fetched the server's own record
    if (!sent) setModule(__FILE__, __LINE__).postError("%s", base_->lastError().c_str());
    return sent;
}

bool VantrelEventMonitor::Connection::registerHandler(const VantrelNodeId& node,
                                                      VantrelNodeEvent::Handler* handler) {
    CO_ASSERT_TEXT(handler != nullptr, "handler != 0");
    bool registered = true;
    {
        Vantrel::CoMutexGuard guard(changesLock_);
        if (!subjects_->has(node)) {
            // Set first: a call that opens the link replays, and the server must then forget
            // what it may hold for this connection number.
            everRegistered_ = true;
            registered = send(&VantrelBaseClientAPI::registerEvents, node.id());
        }
        if (registered) subjects_->add(node, handler);
    }
    runPendingReplay();
    return registered;
}

bool VantrelEventMonitor::Connection::unregisterHandler(const VantrelNodeId& node,
                                                        VantrelNodeEvent::Handler* handler) {
    bool done = true;
    {
        Vantrel::CoMutexGuard guard(changesLock_);
        switch (subjects_->remove(node, handler)) {
            case Subjects::Removal::NODE_ABSENT:
                // Said here: the last error would otherwise be that of some earlier failure.
                setModule(__FILE__, __LINE__)
                    .postError("Not registered for events of node '%s'.", node.id());
                done = false;
                break;
            case Subjects::Removal::HANDLERS_LEFT:
                break;
            case Subjects::Removal::NONE_LEFT:
                done = send(&VantrelBaseClientAPI::unregisterEvents, node.id());
                if (done) subjects_->eraseIfEmpty(node);
                break;
        }
    }
    runPendingReplay();
    subjects_->waitUntilNotRunning(handler);
    return done;
}

void VantrelEventMonitor::Connection::runPendingReplay() {
    // A thread that holds the changes lock replays when it lets go (it runs this again then),
    // so a connection callback never waits for a registration that waits for the link.
    if (!changesLock_.tryLock()) return;
    while (replayPending_.exchange(false)) replay();
    changesLock_.unlock();
}

void VantrelEventMonitor::Connection::replay() {
    if (!everRegistered_) return;
    send(&VantrelBaseClientAPI::unregisterEvents, "");  // a failure is posted; go on
    for (const VantrelNodeId& node : subjects_->nodes()) {
        if (!base_->isConnected()) return;
        send(&VantrelBaseClientAPI::registerEvents, node.id());
    }
}

// ------------------------------------------------------------------------------- monitor

VantrelEventMonitor::VantrelEventMonitor(int port, const std::string& bindAddress)
    : rcServerContext(port, bindAddress), stop_(false), thread_(nullptr) {}

VantrelEventMonitor::~VantrelEventMonitor() = default;

VantrelEventMonitor* VantrelEventMonitor::instance() { return running.load(); }

bool VantrelEventMonitor::onMonitorThread() { return isMonitorThread; }

int VantrelEventMonitor::configuredPort() {
    const std::string text = portSetting().value();
    if (text.empty()) return -1;
    char* end = nullptr;
    const long port = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || port < 1 || port > LAST_PORT) {
        CO_MSG_WARNING("Ignoring %s='%s': not a port number (1 to %d); the system chooses one.",
                       PORT_VARIABLE, text.c_str(), LAST_PORT);
        return -1;
    }
    return static_cast<int>(port);
}

VantrelEventMonitor* VantrelEventMonitor::create() {
    const int port = configuredPort();
    // Every IPv6 and IPv4 address at once where the system allows it, else every IPv4 one.
    for (const char* everywhere : {"::", ""}) {
        std::unique_ptr<VantrelEventMonitor> monitor(new VantrelEventMonitor(port, everywhere));
        if (monitor->isValid()) return monitor.release();
    }
    CO_MSG_ERROR("The event monitor cannot listen on port %d: node events are not available.",
                 port);
    return nullptr;
}

bool VantrelEventMonitor::start() {
    if (instance() != nullptr) return true;
    VantrelEventMonitor* monitor = create();
    if (monitor == nullptr) return false;
    monitor->applyLimits(limits());
    monitor->registerMethod(Vantrel::rcMethod(*monitor, VantrelEventWire::NODE_EVENT_METHOD,
                                              serveNodeEvent, Vantrel::rcParamString::TYPE,
                                              NODE_EVENT_PARAMS));
    monitor->thread_ = &Vantrel::CoThreadMgr::createThread(THREAD_NAME, threadMain, monitor, true);
    running = monitor;
    return true;
}

void VantrelEventMonitor::stop() {
    VantrelEventMonitor* monitor = running.exchange(nullptr);
    if (monitor == nullptr) return;
    monitor->stop_ = true;
    Vantrel::CoThread* const ours = monitor->thread_;
    Vantrel::CoThread* found = nullptr;
    Vantrel::CoThreadMgr::getInstance().visitThreads([ours, &found](Vantrel::CoThread* thread) {
        if (thread != ours) return 0;
        found = thread;
        return 1;
    });
    if (found != nullptr) {
        found->join();
        Vantrel::CoThreadMgr::getInstance().removeThread(found);
        delete found;
    }
    delete monitor;
}

void VantrelEventMonitor::threadMain(void* monitor) {
    static_cast<VantrelEventMonitor*>(monitor)->run();
}

void VantrelEventMonitor::run() {
    isMonitorThread = true;
    while (!stop_) {
        struct timeval pass = {0, LOOP_PASS_US};
        callIOHandlers(false, pass);
    }
}

void VantrelEventMonitor::addConnection(unsigned int id,
                                        const std::shared_ptr<Subjects>& subjects) {
    Vantrel::CoMutexGuard guard(connectionsLock_);
    connections_.push_back(subjects);
    if (!registerObject(static_cast<int>(id), subjects.get()))
        CO_MSG_WARNING("Could not register connection '%d'", static_cast<int>(id));
}

void VantrelEventMonitor::removeConnection(unsigned int id, const Subjects* subjects) {
    Vantrel::CoMutexGuard guard(connectionsLock_);
    if (!unregisterObject(static_cast<int>(id)))
        CO_MSG_WARNING("Could not unregister connection '%d'", static_cast<int>(id));
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [subjects](const std::shared_ptr<Subjects>& known) {
                                          return known.get() == subjects;
                                      }),
                       connections_.end());
}

VantrelEventMonitor::Limits VantrelEventMonitor::limits() {
    std::lock_guard<std::mutex> guard(limitsLock);
    return currentLimits;
}

void VantrelEventMonitor::setLimits(const Limits& limits) {
    std::lock_guard<std::mutex> guard(limitsLock);
    currentLimits = limits;
}

void VantrelEventMonitor::applyLimits(const Limits& limits) {
    setRequestLineLimits(limits.loginLineBytes, limits.eventLineBytes);
    setLoginTimeout(limits.loginTimeoutMs);
    setIdleTimeout(limits.idleTimeoutMs);
    maxConnections_ = limits.connections;
    setConnectionFilter([this](const std::string& peer) { return admits(peer); });
}

bool VantrelEventMonitor::admits(const std::string& peer) {
    if (openClientCount() >= maxConnections_) {
        CO_MSG_WARNING("Event connection from %s refused: %zu connections are open already.",
                       peer.c_str(), openClientCount());
        return false;
    }
    return isServerAddress(peer);
}

bool VantrelEventMonitor::isServerAddress(const std::string& peer) {
    Vantrel::CoMutexGuard guard(connectionsLock_);
    for (const std::shared_ptr<Subjects>& known : connections_)
        if (known->isServerAddress(peer)) return true;
    return false;
}

std::shared_ptr<VantrelEventMonitor::Subjects> VantrelEventMonitor::findSubjects(
    const void* object) {
    Vantrel::CoMutexGuard guard(connectionsLock_);
    for (const std::shared_ptr<Subjects>& known : connections_)
        if (known.get() == object) return known;
    return nullptr;
}

bool VantrelEventMonitor::serveNodeEvent(void* object, const Vantrel::rcMethod& method,
                                         const Vantrel::rcParam::Array& params,
                                         Vantrel::rcParam& result) {
    auto& self = static_cast<VantrelEventMonitor&>(method.getServerContext());
    // The connection may have gone between the server context's lookup and this call.
    const std::shared_ptr<Subjects> subjects = self.findSubjects(object);
    if (subjects == nullptr) {
        method.setLastError("No event connection for this object");
        return false;
    }
    // A connection number is no secret: the call must come from that connection's server.
    const Vantrel::rcConnectionInfo* caller = self.getCurrentConnectionInfo();
    if (caller == nullptr || !subjects->isServerAddress(caller->getIpAddr())) {
        CO_MSG_NOTICE("Node event from %s refused: not the server of that event connection.",
                      caller != nullptr ? caller->getIpAddr() : "?");
        method.setLastError("Not the server of this event connection");
        return false;
    }
    VantrelEventWire::NodeEvent fields;
    std::string missing;
    if (!VantrelEventWire::decodeNodeEvent(params.size() > 0 ? params[0]->stringValue() : "",
                                           fields, missing)) {
        method.setLastError(("Missing '" + missing + "' parameter").c_str());
        return false;
    }
    subjects->dispatch(VantrelNodeEvent(VantrelNodeId(fields.nodeId.c_str()), fields.type.c_str(),
                                        VantrelDictionary(fields.details.c_str())));
    result.setStringValue("");
    return true;
}
