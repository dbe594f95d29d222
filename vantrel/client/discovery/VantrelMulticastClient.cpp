#include "vantrel/client/discovery/VantrelMulticastClient.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "network/CoNetworkConfig.h"
#include "osal/CoAssert.h"
#include "osal/CoEnvSettings.h"
#include "osal/CoTime.h"
#include "rcApi/rcAPI.h"
#include "rcApi/rcAttrStream.h"
#include "tcp/CoSocketApi.h"
#include "threads/CoThread.h"
#include "threads/CoThreadMgr.h"
#include "vantrel/VantrelServerInfo.h"
#include "vantrel/protocol/VantrelDiscoveryPacket.h"
#include "vantrel/protocol/VantrelServerListPayload.h"

using Vantrel::CoException;
using Vantrel::CoMulticast;
using Vantrel::CoMutexGuard;
using Vantrel::CoNetworkInterface;
using Vantrel::CoTime;
typedef VantrelDiscoveryPacket Packet;

namespace {

constexpr uint64_t MICROS_PER_SECOND = 1000000;

unsigned readResyncSeconds() {
    const long seconds = Vantrel::coEnvLong("VANTREL_MULTICAST_RESYNC_TIME", 300);
    return seconds > 0 ? static_cast<unsigned>(seconds) : 300;
}

std::atomic<unsigned> resyncSecondsValue{readResyncSeconds()};  // read at load

Vantrel::CoMutex& instanceLock() {
    static Vantrel::CoMutex lock;
    return lock;
}

// Made under instanceLock(), published once started; read without the lock, so that a
// connection never waits for another thread's first search.
std::atomic<VantrelMulticastClient*> instance{nullptr};

int debugLevel() { return VantrelKnownServers::debugLevel(); }

std::string idText(const VantrelDaemonInfo& record) {
    return VantrelServerInfo(record).getId().getId();
}

std::string addressList(const VantrelDaemonInfo& record, bool data) {
    std::string text;
    for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i) {
        const char* address = data ? record.getFrameIPAddr(i) : record.getIPAddr(i);
        if (address[0] == '\0') break;
        if (!text.empty()) text += ' ';
        text += address;
    }
    return text;
}

}  // namespace

// ------------------------------------------------------------------------- instance and life

VantrelMulticastClient& VantrelMulticastClient::getInstance() {
    CoMutexGuard guard(instanceLock());
    if (instance.load() == nullptr) {
        unsigned port = DEFAULT_PORT, ttl = DEFAULT_TTL;
        std::string scope = DEFAULT_SCOPE;
        Vantrel::CoNetworkConfig& config = Vantrel::CoNetworkConfig::getInstance();
        config.getSelfDiscoveryPort(port);
        config.getSelfDiscoveryScope(scope);
        config.getSelfDiscoveryTTL(ttl);
        std::unique_ptr<VantrelMulticastClient> made(
            new VantrelMulticastClient(port, scope.c_str(), ttl));
        made->start();
        instance.store(made.release());
    }
    return *instance.load();
}

VantrelMulticastClient* VantrelMulticastClient::existingInstance() { return instance.load(); }

void VantrelMulticastClient::destroyInstance() {
    CoMutexGuard guard(instanceLock());
    delete instance.exchange(nullptr);
}

unsigned VantrelMulticastClient::resyncSeconds() { return resyncSecondsValue.load(); }

void VantrelMulticastClient::setResyncSeconds(unsigned seconds) {
    resyncSecondsValue = seconds > 0 ? seconds : 1;
}

VantrelMulticastClient::VantrelMulticastClient(unsigned port, const char* scope, unsigned ttl)
    : port_(port),
      scope_(scope != nullptr ? scope : ""),
      ttl_(ttl),
      thread_(nullptr),
      publicSocket_(port, scope, nullptr),
      stop_(false),
      nextDiscard_(0),
      observer_(*this) {
    dispatcher_.reset(new Vantrel::CoNetworkDispatcher(1));
    dispatcher_->addObserver(&observer_);
    dispatcher_->refresh(false);
}

VantrelMulticastClient::~VantrelMulticastClient() {
    dispatcher_->removeObserver(&observer_);
    // The thread goes first: the sockets are then used by this thread alone.
    stop_ = true;
    wake();
    if (thread_ != nullptr) {
        thread_->join();
        delete thread_;
    }
    try {
        publicSocket_.drop();
    } catch (const CoException& error) {
        CO_MSG_DEBUG("Could not uninitialize public multicast socket ['%s']: %s", scope_.c_str(),
                     error.what());
    }
    dispatcher_.reset();
}

void VantrelMulticastClient::openPublicSocket() {
    try {
        publicSocket_.setTTL(static_cast<int>(ttl_));
        publicSocket_.bind(false);
        publicSocket_.join();
    } catch (const CoException& error) {
        CO_MSG_ERROR("Could not bind/join public multicast socket on '%u/%s/%u': %s", port_,
                     scope_.c_str(), ttl_, error.what());
    }
}

void VantrelMulticastClient::start() {
    // The public socket joins after the search on this host: a unicast datagram to a port
    // that several sockets share reaches only one of them, on this system the one bound last,
    // which would be ours rather than the local server's.
    std::vector<VantrelDaemonInfo> found;
    const int local = findServers(found, nullptr, "127.0.0.1", 0);
    openPublicSocket();
    if (local == 0) {
        try {
            findServers(found, nullptr, nullptr, 0);
        } catch (const std::exception& error) {
            CO_MSG_WARNING("Could not fetch servers list: %s", error.what());
        }
    }
    nextDiscard_ = CoTime::getTime() + resyncSeconds() * MICROS_PER_SECOND;
    thread_ = &Vantrel::CoThreadMgr::createThread("Vantrel Multicast", &threadMain, this, false);
}

void VantrelMulticastClient::threadMain(void* self) {
    static_cast<VantrelMulticastClient*>(self)->listen();
}

void VantrelMulticastClient::listen() {
    while (!stop_) {
        try {
            const uint64_t now = CoTime::getTime();
            if (now >= nextDiscard_)
                discardInactive();
            else
                waitForActivity(nextDiscard_ - now);
        } catch (const CoException& error) {
            CO_MSG_ERROR("Caught Exception: %s", error.what());
        }
    }
}

void VantrelMulticastClient::wake() { wakeup_.wake(); }

// -------------------------------------------------------------------------------- interfaces

void VantrelMulticastClient::Observer::notify(Vantrel::CoNetworkDispatcher::Event event,
                                              const CoNetworkInterface& networkInterface) {
    if (networkInterface.hasAttributes(CoNetworkInterface::IPV6) ||
        !networkInterface.hasAttributes(CoNetworkInterface::MULTICAST))
        return;
    if (event == Vantrel::CoNetworkDispatcher::INTERFACE_ADDED)
        client_.interfaceUp(networkInterface);
    else
        client_.interfaceDown(networkInterface);
}

void VantrelMulticastClient::interfaceUp(const CoNetworkInterface& networkInterface) {
    CO_MSG_NOTICE("Vantrel Multicast: start multicasting on '%s'",
                  networkInterface.getName().c_str());
    std::unique_ptr<CoMulticast> socket = openPrivateSocket(networkInterface);
    if (socket == nullptr) return;
    {
        CoMutexGuard guard(privateLock_);
        privateSockets_.emplace_back();
        privateSockets_.back().networkInterface = networkInterface;
        privateSockets_.back().socket = std::move(socket);
    }
    wake();  // the waiting loop takes the new socket into its set
    sendDiscovery(nullptr);
}

void VantrelMulticastClient::interfaceDown(const CoNetworkInterface& networkInterface) {
    CoMutexGuard guard(privateLock_);
    for (PrivateSocket& entry : privateSockets_) {
        if (entry.removed || entry.networkInterface != networkInterface) continue;
        CO_MSG_NOTICE("Vantrel Multicast: drop multicasting on '%s'",
                      networkInterface.getName().c_str());
        entry.removed = true;
    }
    wake();
}

std::unique_ptr<CoMulticast> VantrelMulticastClient::openPrivateSocket(
    const CoNetworkInterface& networkInterface) {
    const char* name = networkInterface.getName().c_str();
    const char* address = networkInterface.getIP().c_str();
    try {
        std::unique_ptr<CoMulticast> socket(new CoMulticast(port_, scope_.c_str(), address));
        socket->setTTL(static_cast<int>(ttl_));
        socket->setLoopback(true);
        socket->bind(true);
        CO_MSG_DEBUG("Vantrel Multicast: opened private socket '%d' on  '%s' '%s:%u/%s/%u'",
                     socket->getSocket(), name, address, port_, scope_.c_str(), ttl_);
        return socket;
    } catch (const CoException& error) {
        CO_MSG_ERROR("Could not bind private multicast socket on '%s' '%s:%u/%s/%u': %s", name,
                     address, port_, scope_.c_str(), ttl_, error.what());
        return nullptr;
    }
}

// ----------------------------------------------------------------------------------- sending

bool VantrelMulticastClient::sendFrom(PrivateSocket& entry, const std::string& packet,
                                      const char* host, unsigned port, const char* typeName,
                                      std::string& error) {
    if (debugLevel() >= 1)
        CO_MSG_USER("Vantrel Multicast: Sending '%s' to '%s:%u' on %s", typeName,
                    host != nullptr ? host : scope_.c_str(), port != 0 ? port : port_,
                    entry.networkInterface.getName().c_str());
    try {
        CoMutexGuard guard(entry.sendLock);
        entry.socket->send(packet.data(), packet.size(), host, port);
        return true;
    } catch (const CoException& failure) {
        error = failure.what();
        return false;
    }
}

void VantrelMulticastClient::sendRequest(int type, const std::string& payload, const char* host,
                                         unsigned port) {
    const std::string packet = Packet::encode(type, payload);
    const char* typeName = Packet::typeName(type);
    CoMutexGuard guard(privateLock_);
    std::string error = "No local multicast interface found.";
    for (PrivateSocket& entry : privateSockets_) {
        if (entry.removed) continue;
        const bool sent = sendFrom(entry, packet, host, port, typeName, error);
        if (host != nullptr && sent) return;
        if (host == nullptr && !sent)
            CO_MSG_WARNING("Could not broadcast %s request on %s: %s", typeName,
                           entry.networkInterface.getName().c_str(), error.c_str());
    }
    if (host != nullptr)
        CO_MSG_WARNING("Could not unicast %s request to %s: %s", typeName, host, error.c_str());
}

void VantrelMulticastClient::sendDiscovery(const char* database) {
    try {
        sendRequest(Packet::FIND_SERVERS, Packet::findServersPayload(database), nullptr, 0);
    } catch (const std::exception& error) {
        CO_MSG_WARNING("Could not broadcast discovery request: %s", error.what());
    }
}

// --------------------------------------------------------------------------------- searching

int VantrelMulticastClient::findServers(std::vector<VantrelDaemonInfo>& out,
                                        const char* database, const char* host,
                                        unsigned port) {
    if (!isRunning()) {
        if (debugLevel() >= 1)
            CO_MSG_USER("Vantrel Multicast: finding servers on %s:%u",
                        host != nullptr ? host : "<network>", port != 0 ? port : port_);
        servers_.clear();
        sendRequest(Packet::FIND_SERVERS, Packet::findServersPayload(database), host, port);
        const uint64_t deadline = CoTime::getTime() + FIND_TIMEOUT_MICROS;
        uint64_t now = CoTime::getTime();
        while (servers_.size() == 0 && now < deadline && !stop_) {
            waitForActivity(deadline - now);
            now = CoTime::getTime();
        }
        const std::vector<VantrelDaemonInfo> answered = servers_.copy(nullptr);
        if (answered.empty()) {
            CO_MSG_NOTICE("Unable to find a Vantrel daemon on %s (time-out).",
                          host != nullptr ? host : scope_.c_str());
            out.clear();
            return 0;
        }
        fetchList(answered.front(), database);
    }
    out = servers_.copy(database);
    return static_cast<int>(out.size());
}

void VantrelMulticastClient::fetchList(const VantrelDaemonInfo& server, const char* database) {
    const std::string name = idText(server);
    if (debugLevel() >= 1)
        CO_MSG_USER("Vantrel Multicast: fetching servers list from '%s'.", name.c_str());
    Vantrel::rcAPI api;
    bool connected = false;
    for (int i = 0; i < server.getNumIPAddrs() && !connected; ++i)
        connected = api.connect(server.getIPAddr(i), server.getNodePort(), LIST_TIMEOUT_MS);
    std::string reply;
    if (!connected || !api.call(0, "GetDaemonList", "", true, reply, LIST_TIMEOUT_MS)) {
        CO_MSG_WARNING("Could not fetch servers list from '%s': %s", name.c_str(),
                       api.lastError().c_str());
        return;
    }
    std::vector<VantrelDaemonInfo> records;
    for (const std::string& text : VantrelServerListPayload::decode(reply)) {
        VantrelDaemonInfo record{Vantrel::rcAttrStream(text)};
        if (database != nullptr && std::strcmp(database, record.getDatabase()) != 0) continue;
        records.push_back(record);
    }
    if (debugLevel() >= 1)
        CO_MSG_USER("Vantrel Multicast: fetched %lld servers from '%s'.",
                    static_cast<long long>(records.size()), name.c_str());
    // The records describe other servers than the one that sent them: no sender address.
    for (VantrelDaemonInfo& record : records) {
        VantrelKnownServers::cleanUp(record, nullptr);
        servers_.addOrUpdate(record);
    }
}

bool VantrelMulticastClient::resolve(const VantrelServerId& id, VantrelDaemonInfo& out) {
    CO_MSG_DEBUG("Resolving VantrelServerId( '%s' [%s:%d/%s] )", id.getStorageId(),
                 id.getIPAddr(), id.getPort(), id.getDB());
    if (!servers_.resolve(id, out)) {
        CO_MSG_DEBUG("Unable to resolve VantrelServerId( '%s' [%s:%d/%s] )", id.getStorageId(),
                     id.getIPAddr(), id.getPort(), id.getDB());
        if (debugLevel() >= 1)
            for (const VantrelDaemonInfo& listed : servers_.copy(nullptr))
                CO_MSG_USER("Candidate on %s: '%s'", listed.getIPAddr(0),
                            listed.getStorageId());
        return false;
    }
    if (debugLevel() >= 1)
        CO_MSG_USER("Resolved VantrelServerId( '%s' [%s:%d/%s] ):\n Display Name: %s\n Storage "
                    "Id  : %s\n Ports       : %u / %u\n Metadata IPs: %s\n Data IPs    : %s",
                    id.getStorageId(), id.getIPAddr(), id.getPort(), id.getDB(),
                    out.getDisplayName(), out.getStorageId(),
                    static_cast<unsigned>(out.getNodePort()),
                    static_cast<unsigned>(out.getFramePort()), addressList(out, false).c_str(),
                    addressList(out, true).c_str());
    return true;
}

void VantrelMulticastClient::serverAnswered(const VantrelDaemonInfo& record) {
    if (servers_.touch(record, CoTime::getTime())) return;
    const char* address = record.getIPAddr(0);
    if (address[0] == '\0') return;
    try {
        sendRequest(Packet::FIND_SERVERS, std::string(), address, 0);
    } catch (const std::exception& error) {
        CO_MSG_WARNING("Could not unicast %s request to %s: %s", "FIND_SERVERS", address,
                       error.what());
    }
}

void VantrelMulticastClient::dropServer(const VantrelDaemonInfo& record) {
    if (servers_.removeSame(record) && debugLevel() >= 1)
        CO_MSG_USER("Vantrel Multicast: Removing '%s'", idText(record).c_str());
}

// --------------------------------------------------------------------------------- receiving

void VantrelMulticastClient::discardInactive() {
    const uint64_t now = CoTime::getTime();
    const uint64_t resync = resyncSeconds() * MICROS_PER_SECOND;
    servers_.discardInactive(now, resync);
    nextDiscard_ = now + resync;
}

bool VantrelMulticastClient::waitForActivity(uint64_t timeoutMicros) {
    const uint64_t deadline = CoTime::getTime() + timeoutMicros;
    uint64_t now = CoTime::getTime();
    while (!stop_ && now < deadline) {
        if (waitPass(std::min(deadline - now, WAIT_PASS_MICROS))) return true;
        now = CoTime::getTime();
    }
    return false;
}

std::vector<int> VantrelMulticastClient::collectSockets() {
    CoMutexGuard guard(privateLock_);
    privateSockets_.remove_if([](const PrivateSocket& entry) { return entry.removed; });
    std::vector<int> sockets;
    for (const PrivateSocket& entry : privateSockets_)
        if (sockets.size() < MAX_WAIT_SOCKETS - 2) sockets.push_back(entry.socket->getSocket());
    if (sockets.empty()) CO_MSG_DEBUG("No local multicast interface found.");
    return sockets;
}

bool VantrelMulticastClient::waitPass(uint64_t timeoutMicros) {
    std::vector<int> waits = collectSockets();
    waits.push_back(publicSocket_.getSocket());
    waits.push_back(wakeup_.waitId());
    if (debugLevel() >= 2)
        CO_MSG_USER("Vantrel Multicast: waiting %llu us on %zu sockets",
                    static_cast<unsigned long long>(timeoutMicros), waits.size() - 1);
    const int timeoutMs = static_cast<int>((timeoutMicros + 999) / 1000);
    std::vector<int> readable;
    std::string why;
    const int ready = Vantrel::coWaitReadable(waits, timeoutMs, readable, why);
    if (ready < 0) {
        CO_MSG_ERROR("Error while waiting on sockets: %s", why.c_str());
        CoException(__LINE__, __FILE__).fire(why.c_str(), "%s", why.c_str());
    }
    if (ready == 0) return false;
    auto isReadable = [&](int fd) {
        return std::find(readable.begin(), readable.end(), fd) != readable.end();
    };
    if (isReadable(wakeup_.waitId())) wakeup_.drain();
    bool changed = isReadable(publicSocket_.getSocket()) && receiveFrom(publicSocket_);
    CoMutexGuard guard(privateLock_);
    for (PrivateSocket& entry : privateSockets_) {
        if (!entry.removed && isReadable(entry.socket->getSocket()) && receiveFrom(*entry.socket))
            changed = true;
    }
    return changed;
}

bool VantrelMulticastClient::receiveFrom(CoMulticast& socket) {
    char buffer[Packet::MAX_SIZE];
    size_t length = sizeof buffer;
    sockaddr_storage from;
    try {
        socket.receive(buffer, length, from);
    } catch (const CoException& error) {
        CO_MSG_WARNING("%s: %s", error.what(), error.expertData());
        return false;
    }
    if (length == 0) return false;
    std::string sender;
    unsigned senderPort = 0;
    CoMulticast::addrToIPAndPort(from, sender, senderPort);
    return handleDatagram(buffer, length, sender, senderPort);
}

bool VantrelMulticastClient::handleDatagram(const char* data, size_t size,
                                            const std::string& sender, unsigned senderPort) {
    if (debugLevel() >= 2)
        CO_MSG_USER("Vantrel Multicast: datagram of %zu bytes from '%s:%u'", size,
                    sender.c_str(), senderPort);
    Packet::Decoded packet;
    std::string error;
    if (!Packet::decode(data, size, packet, error)) {
        CO_MSG_ERROR("%s", error.c_str());
        CO_MSG_WARNING("Invalid/Corrupted packet received from '%s:%u': %s", sender.c_str(),
                       senderPort, error.c_str());
        return false;
    }
    if (debugLevel() >= 1)
        CO_MSG_USER("Vantrel Multicast: received '%s' from '%s:%u'",
                    Packet::typeName(packet.type), sender.c_str(), senderPort);
    return handleRequest(packet.type, packet.payload, sender);
}

bool VantrelMulticastClient::handleRequest(int type, const std::string& payload,
                                           const std::string& sender) {
    switch (type) {
    case Packet::DISCOVER_SERVERS:
    case Packet::DISCOVER_SERVERS_REPLY: {
        VantrelDaemonInfo record{Vantrel::rcAttrStream(payload)};
        VantrelKnownServers::cleanUp(record, sender.c_str());
        return servers_.addOrUpdate(record, sender.c_str());
    }
    case Packet::REMOVE_SERVER: {
        VantrelDaemonInfo record{Vantrel::rcAttrStream(payload)};
        VantrelKnownServers::cleanUp(record, sender.c_str());
        return servers_.removeNamedBy(record, sender.c_str());
    }
    case Packet::INVALID:
    case Packet::START_OF_SERVICES:
    case Packet::FIND_SERVERS:
    case Packet::END_OF_SERVICES:
        return false;
    default:
        CO_MSG_WARNING("Unknown request type: %d.", type);
        return false;
    }
}
