#include "vantrel/server/VantreldServer.h"

#include <string.h>

#include <chrono>
#include <map>
#include <utility>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "network/CoNetworkConfig.h"
#include "network/CoNetworkDispatcher.h"
#include "rcApi/rcMethod.h"
#include "rcApi/rcServerContext.h"
#include "tcp/CoIoDescriptor.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/server/ServerError.h"

namespace vantreld {

namespace {

// Every method takes its whole argument text as one string, unsplit.
const Vantrel::rcParam::Info WHOLE_TEXT[] = {{&Vantrel::rcParamString::TYPE, "args"},
                                             {nullptr, nullptr}};

// Announced when the server listens on every address, as a client on this host reaches it.
const char LOCAL_ANNOUNCEMENT[] = "127.0.0.1";

bool isWildcardAddress(const std::string& numericAddress) {
    return numericAddress == "0.0.0.0" || numericAddress == "::";
}

bool isLoopbackAddress(const std::string& address) {
    return address.compare(0, 4, "127.") == 0 || address == "::1" ||
           address.compare(0, 11, "::ffff:127.") == 0;
}

// The host's addresses that another host can reach (no loopback, no link-local IPv6), IPv4
// first, at most the record's five.
std::vector<std::string> reachableAddresses(bool withIPv6) {
    Vantrel::CoNetworkDispatcher dispatcher(0);
    std::vector<Vantrel::CoNetworkInterface> interfaces;
    dispatcher.getInterfaces(interfaces, Vantrel::CoNetworkDispatcher::ALL);
    std::vector<std::string> addresses;
    for (int pass = 0; pass < (withIPv6 ? 2 : 1); ++pass) {
        const uint32_t family =
            pass == 0 ? Vantrel::CoNetworkInterface::IPV4 : Vantrel::CoNetworkInterface::IPV6;
        for (const Vantrel::CoNetworkInterface& networkInterface : interfaces) {
            const std::string& ip = networkInterface.getIP();
            if (!networkInterface.hasAttributes(family) || networkInterface.isLoopback() ||
                isLoopbackAddress(ip) || ip.compare(0, 4, "fe80") == 0)
                continue;
            if (addresses.size() < static_cast<size_t>(VantrelDaemonInfo::MAX_IPS))
                addresses.push_back(ip);
        }
    }
    return addresses;
}

}  // namespace

// The remote-call server context: hands every request to the dispatcher, telling it which
// client asked and whether that client is on this host's loopback, and keeps the addresses
// of the logged-in clients for the frame port.
class VantreldServer::Context : public Vantrel::rcServerContext {
public:
    Context(int port, const std::string& listenAddress, const MethodDispatcher& dispatcher,
            EventService& events, LoggedInPeers& loggedIn)
        : rcServerContext(port, listenAddress),
          dispatcher_(dispatcher),
          events_(events),
          loggedIn_(loggedIn) {}

    bool login(const Vantrel::rcConnectionInfo&) override {
        const Client* client = getCurrentClient();
        if (client != nullptr && loggedInClients_.count(client) == 0) {
            const std::string peer = currentPeer();
            loggedInClients_[client] = peer;
            loggedIn_.add(peer);
        }
        return true;
    }

    static bool serve(void*, const Vantrel::rcMethod& method, const Vantrel::rcParam::Array& params,
                      Vantrel::rcParam& result) {
        Context& self = static_cast<Context&>(method.getServerContext());
        Request request;
        request.method = method.getName();
        request.args = params.size() > 0 ? params[0]->stringValue() : std::string();
        request.clientId = self.getCurrentClientId();
        request.peer = self.currentPeer();
        request.fromLoopback = isLoopbackAddress(request.peer);
        request.session = self.currentSession();
        Reply reply = self.dispatcher_.dispatch(request);
        if (!reply.ok) {
            method.setLastError(reply.text.c_str());
            return false;
        }
        result.takeStringValue(std::move(reply.text));  // listings run to tens of megabytes
        return true;
    }

private:
    std::string currentPeer() const {
        const Client* client = getCurrentClient();
        std::string peer;
        if (client != nullptr && client->descriptor() != nullptr)
            client->descriptor()->getPeerIP(peer);
        return peer;
    }
    // A number per connection, never reused (a closed client's address may be).
    uint64_t currentSession() {
        const Client* client = getCurrentClient();
        if (client == nullptr) return 0;
        uint64_t& session = sessions_[client];
        if (session == 0) session = ++lastSession_;
        return session;
    }
    void clientClosed(const Client& client) override {
        const auto loggedIn = loggedInClients_.find(&client);
        if (loggedIn != loggedInClients_.end()) {
            loggedIn_.remove(loggedIn->second);
            loggedInClients_.erase(loggedIn);
        }
        const auto found = sessions_.find(&client);
        if (found == sessions_.end()) return;
        events_.connectionClosed(found->second);
        sessions_.erase(found);
    }

    const MethodDispatcher& dispatcher_;
    EventService& events_;
    LoggedInPeers& loggedIn_;
    std::map<const Client*, uint64_t> sessions_;
    std::map<const Client*, std::string> loggedInClients_;  // their peer addresses
    uint64_t lastSession_ = 0;
};

ServerSettings VantreldServer::loadSettings(const Options& options) {
    ServerSettings settings;
    if (!options.configFile.empty()) settings.readFile(options.configFile);
    return settings;
}

VantreldServer::VantreldServer(const Options& options)
    : settings_(loadSettings(options)),
      store_(options.directory, options.sync, VantrelOS::getHostName().c_str(), settings_.limits),
      dispatcher_(options.version, &log_),
      nodeMethods_(store_, settings_),
      serverMethods_(store_, settings_, options.version,
                     [this] {
                         shutdownBy_ = "a Shutdown request";
                         requestStop();
                     }),
      events_(options.eventTimeoutMs),
      stop_(false),
      stopSignal_(0) {
    if (!options.traceFile.empty()) log_.openTraceFile(options.traceFile);
    if (options.port < 0) throw ServerError("Invalid node port " + std::to_string(options.port));
    context_.reset(
        new Context(options.port == 0 ? -1 : options.port, options.listenAddress, dispatcher_,
                    events_, loggedIn_));
    if (!context_->isValid()) {
        const std::string where =
            options.listenAddress.empty() ? std::string() : " at " + options.listenAddress;
        const std::string port =
            options.port == 0 ? "a free node port" : "node port " + std::to_string(options.port);
        throw ServerError("Cannot listen on " + port + where + ": " +
                          context_->descriptor()->lastError());
    }
    // Nothing but "_ping" runs before a login; peers outside the allowed networks are closed.
    context_->setLoginRequired(true);
    if (!options.allowed.empty()) {
        context_->setConnectionFilter(
            [allowed = options.allowed](const std::string& peer) { return allowed.allows(peer); });
    }
    nodeMethods_.registerWith(dispatcher_);
    serverMethods_.registerWith(dispatcher_);
    events_.registerWith(dispatcher_);
    store_.setObserver(&events_);
    frames_.reset(new FrameServer(frameOptions(options), &log_));
    serverMethods_.setEndpoint(announcedAddresses(options), nodePort(), frames_->port());
    bindMethods();
    if (options.discovery) startDiscovery(options);
}

void VantreldServer::startDiscovery(const Options& options) {
    const DiscoveryService::Group group = discoveryGroup(options, settings_);
    try {
        std::function<bool(const std::string&)> allows;
        if (!options.allowed.empty())
            allows = [allowed = options.allowed](const std::string& sender) {
                return allowed.allows(sender);
            };
        discovery_.reset(new DiscoveryService(group, serverMethods_.daemonInfo(), allows));
        serverMethods_.setKnownServers([this] { return discovery_->knownServers(); });
    } catch (const Vantrel::CoException& error) {
        // Clients that name the server by address still reach it.
        CO_MSG_WARNING("No server discovery on %s:%u: %s: %s", group.scope.c_str(), group.port,
                       error.what(), error.expertData());
    }
}

DiscoveryService::Group VantreldServer::discoveryGroup(const Options& options,
                                                       const ServerSettings& settings) {
    DiscoveryService::Group group;
    Vantrel::CoNetworkConfig& config = Vantrel::CoNetworkConfig::getInstance();
    config.getSelfDiscoveryPort(group.port);
    config.getSelfDiscoveryScope(group.scope);
    config.getSelfDiscoveryTTL(group.ttl);
    if (settings.discoveryPort != 0) group.port = settings.discoveryPort;
    if (!settings.discoveryScope.empty()) group.scope = settings.discoveryScope;
    if (settings.discoveryTTL != 0) group.ttl = settings.discoveryTTL;
    if (settings.resyncSeconds != 0) group.resyncSeconds = settings.resyncSeconds;
    if (options.udpPort != 0) group.port = options.udpPort;
    return group;
}

VantreldServer::~VantreldServer() = default;

void VantreldServer::bindMethods() {
    for (const std::string& name : dispatcher_.methods()) {
        const char* stableName = methodNames_.insert(name).first->c_str();
        context_->registerMethod(Vantrel::rcMethod(*context_, stableName, &Context::serve,
                                                   Vantrel::rcParamString::TYPE, WHOLE_TEXT));
    }
}

int VantreldServer::nodePort() const { return context_->getPort(); }

int VantreldServer::framePort() const { return frames_->port(); }

FrameServer::Options VantreldServer::frameOptions(const Options& options) {
    FrameServer::Options frames;
    frames.directory = options.directory;
    frames.port = options.framePort;
    frames.listenAddress = options.listenAddress;
    frames.version = options.version;
    frames.sync = options.sync;
    frames.redirects = FrameServer::readRedirects(options.configFile);
    frames.readDelayMs = options.benchReadDelayMs;
    frames.idleLimitMs = options.frameIdleLimitMs;
    frames.mayChange = [&loggedIn = loggedIn_](const std::string& peer) {
        return loggedIn.contains(peer);
    };
    frames.cacheBytes = static_cast<size_t>(options.cacheMegabytes) << 20;
    frames.translatePath = [this](const std::string& path, const std::string& host, int osType) {
        return settings_.translatePath(path, host, osType, VantrelOS::getHostName().c_str(),
                                       static_cast<int>(VantrelOS::getOSType()));
    };
    frames.observer = [this](const NodeChange& change) { events_.nodeChanged(change); };
    if (!options.allowed.empty())
        frames.allows = [allowed = options.allowed](const std::string& peer) {
            return allowed.allows(peer);
        };
    return frames;
}

std::string VantreldServer::listenAddress() const {
    std::string address;
    context_->descriptor()->getSocketIP(address);
    return address;
}

std::vector<std::string> VantreldServer::announcedAddresses(const Options& options) const {
    if (!options.addresses.empty()) return options.addresses;
    const std::string bound = listenAddress();
    if (!bound.empty() && !isWildcardAddress(bound)) return {bound};
    std::vector<std::string> reachable = reachableAddresses(bound == "::");
    if (reachable.empty()) reachable.push_back(LOCAL_ANNOUNCEMENT);
    return reachable;
}

std::string VantreldServer::stopReason() const {
    const int signal = stopSignal_;
    if (signal != 0) {
        const char* name = sigabbrev_np(signal);
        return std::string("signal ") + (name != nullptr ? "SIG" + std::string(name) : std::to_string(signal));
    }
    return shutdownBy_.empty() ? "stop requested" : shutdownBy_;
}

bool VantreldServer::listensBeyondThisHost() const { return !isLoopbackAddress(listenAddress()); }

std::string VantreldServer::readyFields() const {
    return " listen=" + listenAddress() + " tree=" + store_.directory() +
           " nodes=" + std::to_string(store_.size()) + " protocol=" + version().text();
}

void VantreldServer::run() {
    while (!stop_) {
        struct timeval pass = {0, STOP_LATENCY_MS * 1000};
        context_->callIOHandlers(false, pass);
    }
}

// ------------------------------------------------------------------------------ VantreldThread

VantreldThread::VantreldThread(const VantreldServer::Options& options)
    : server_(new VantreldServer(options)), finished_(false), thread_([this] {
          server_->run();
          finished_ = true;
      }) {}

VantreldThread::~VantreldThread() {
    server_->requestStop();
    thread_.join();
}

bool VantreldThread::waitUntilStopped(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!finished_) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace vantreld
