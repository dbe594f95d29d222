#include "vantrel/server/DiscoveryService.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"
#include "network/CoNetworkDispatcher.h"
#include "osal/CoTime.h"
#include "rcApi/rcAttrStream.h"
#include "tcp/CoOsError.h"
#include "vantrel/VantrelServerInfo.h"
#include "vantrel/protocol/VantrelDiscoveryPacket.h"

namespace vantreld {

namespace {

typedef VantrelDiscoveryPacket Packet;
constexpr uint64_t MICROS_PER_SECOND = 1000000;

std::vector<Vantrel::CoNetworkInterface> multicastInterfaces() {
    Vantrel::CoNetworkDispatcher dispatcher(0);
    std::vector<Vantrel::CoNetworkInterface> interfaces;
    dispatcher.getInterfaces(interfaces, Vantrel::CoNetworkDispatcher::MULTICAST,
                             &Vantrel::CoNetworkDispatcher::IPv4Filter);
    return interfaces;
}

std::string encodeRecord(const VantrelDaemonInfo& record) {
    return record.toAttrStream().getStreamStr();
}

}  // namespace

DiscoveryService::DiscoveryService(const Group& group, const VantrelDaemonInfo& self,
                                   std::function<bool(const std::string&)> allows)
    : group_(group),
      self_(self),
      announcement_(encodeRecord(self)),
      groupSocket_(group.port, group.scope.c_str(), nullptr),
      allows_(std::move(allows)),
      stop_(false) {
    if (announcement_.size() + 64 > Packet::MAX_SIZE)
        CO_MSG_WARNING("Discovery: the server record (%zu bytes) may not fit a datagram",
                       announcement_.size());
    groupSocket_.setTTL(static_cast<int>(group.ttl));
    groupSocket_.setLoopback(true);
    groupSocket_.bind(false);
    openSenders();
    if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        Vantrel::CoException(__LINE__, __FILE__)
            .fire("Unable to create a pipe", "%s", Vantrel::coCurrentOsErrorText().c_str());
    announce(Packet::DISCOVER_SERVERS);
    thread_ = std::thread([this] { run(); });
}

DiscoveryService::~DiscoveryService() {
    stop_ = true;
    const char byte = 0;
    if (::write(wakePipe_[1], &byte, 1) < 0) {
        // The thread still sees the flag within one pass.
    }
    thread_.join();
    announce(Packet::REMOVE_SERVER);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

// Joins on every multicast interface; on the group's default interface only when there is
// none. Throws when no membership could be had.
void DiscoveryService::openSenders() {
    const std::vector<Vantrel::CoNetworkInterface> interfaces = multicastInterfaces();
    if (interfaces.empty()) groupSocket_.join();
    size_t joined = 0;
    std::string failure;
    for (const Vantrel::CoNetworkInterface& networkInterface : interfaces) {
        const std::string& address = networkInterface.getIP();
        try {
            groupSocket_.joinOn(address);
            ++joined;
        } catch (const Vantrel::CoException& error) {
            failure = std::string(error.what()) + " on " + address + ": " + error.expertData();
            CO_MSG_WARNING("Discovery: %s", failure.c_str());
        }
        try {
            std::unique_ptr<Vantrel::CoMulticast> sender(
                new Vantrel::CoMulticast(group_.port, group_.scope.c_str(), address.c_str()));
            sender->setTTL(static_cast<int>(group_.ttl));
            sender->setLoopback(true);
            sender->bind(true);
            senders_.push_back(std::move(sender));
        } catch (const Vantrel::CoException& error) {
            CO_MSG_WARNING("Discovery: no announcements on %s: %s: %s", address.c_str(),
                           error.what(), error.expertData());
        }
    }
    if (!interfaces.empty() && joined == 0)
        Vantrel::CoException(__LINE__, __FILE__).fire("No multicast membership", "%s",
                                                      failure.c_str());
}

void DiscoveryService::announce(int type) {
    const std::string packet = Packet::encode(type, announcement_);
    try {
        if (senders_.empty()) groupSocket_.send(packet.data(), packet.size());
    } catch (const Vantrel::CoException& error) {
        CO_MSG_WARNING("Discovery: %s: %s", error.what(), error.expertData());
    }
    for (const auto& sender : senders_) {
        try {
            sender->send(packet.data(), packet.size());
        } catch (const Vantrel::CoException& error) {
            CO_MSG_WARNING("Discovery: %s: %s", error.what(), error.expertData());
        }
    }
}

void DiscoveryService::run() {
    const uint64_t resync = group_.resyncSeconds * MICROS_PER_SECOND;
    uint64_t nextAnnounce = Vantrel::CoTime::getTime() + resync;
    while (!stop_) {
        const uint64_t now = Vantrel::CoTime::getTime();
        if (now >= nextAnnounce) {
            announce(Packet::DISCOVER_SERVERS);
            heard_.discardInactive(now, resync);
            nextAnnounce = now + resync;
            continue;
        }
        pollfd waits[2] = {{groupSocket_.getSocket(), POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        const uint64_t waitMs = std::min<uint64_t>((nextAnnounce - now) / 1000 + 1, 1000);
        if (::poll(waits, 2, static_cast<int>(waitMs)) > 0 && (waits[0].revents & POLLIN))
            receiveOne();
    }
}

void DiscoveryService::receiveOne() {
    char buffer[Packet::MAX_SIZE];
    size_t length = sizeof buffer;
    sockaddr_storage from;
    try {
        groupSocket_.receive(buffer, length, from);
    } catch (const Vantrel::CoException& error) {
        CO_MSG_WARNING("Discovery: %s: %s", error.what(), error.expertData());
        return;
    }
    if (length == 0) return;
    std::string sender;
    unsigned port = 0;
    Vantrel::CoMulticast::addrToIPAndPort(from, sender, port);
    if (allows_ && !allows_(sender)) {
        CO_MSG_DEBUG("Discovery: datagram from %s dropped (not in --allow)", sender.c_str());
        return;
    }
    Packet::Decoded packet;
    std::string error;
    if (!Packet::decode(buffer, length, packet, error)) {
        CO_MSG_WARNING("Invalid/Corrupted packet received from '%s:%u': %s", sender.c_str(), port,
                       error.c_str());
        return;
    }
    handle(packet.type, packet.payload, from, sender);
}

void DiscoveryService::handle(int type, const std::string& payload, const sockaddr_storage& from,
                              const std::string& sender) {
    if (type == Packet::FIND_SERVERS) {
        answer(payload, from, sender);
        return;
    }
    if (type != Packet::DISCOVER_SERVERS && type != Packet::DISCOVER_SERVERS_REPLY &&
        type != Packet::REMOVE_SERVER)
        return;
    VantrelDaemonInfo record{Vantrel::rcAttrStream(payload)};
    const bool fromItsServer = type == Packet::REMOVE_SERVER && sentByItsServer(record, sender);
    VantrelKnownServers::cleanUp(record, sender.c_str());
    if (isSelf(record)) return;
    if (type != Packet::REMOVE_SERVER) {
        if (!heard_.addOrUpdate(record))
            CO_MSG_DEBUG("Discovery: %zu servers listed, '%s' from %s is not", MAX_HEARD_SERVERS,
                         record.getStorageId(), sender.c_str());
    } else if (fromItsServer) {
        heard_.removeNamedBy(record);
    } else {
        CO_MSG_NOTICE("Discovery: removal of '%s' from %s refused: not one of its addresses",
                      record.getStorageId(), sender.c_str());
    }
}

bool DiscoveryService::sentByItsServer(const VantrelDaemonInfo& record,
                                       const std::string& sender) const {
    const auto among = [&sender](const VantrelDaemonInfo& info) {
        for (int i = 0; i < VantrelDaemonInfo::MAX_IPS; ++i)
            if (sender == info.getIPAddr(i) || sender == info.getFrameIPAddr(i)) return true;
        return false;
    };
    if (among(record)) return true;
    VantrelDaemonInfo listed;
    return heard_.resolve(VantrelServerInfo(record).getId(), listed) && among(listed);
}

void DiscoveryService::answer(const std::string& payload, const sockaddr_storage& from,
                              const std::string& sender) {
    std::string wanted;
    if (Vantrel::rcAttrStream(payload).getStringValue("Database", wanted) && !wanted.empty() &&
        wanted != self_.getDatabase())
        return;
    if (!replies_.allow(sender, Vantrel::CoTime::monotonicMs() * 1000)) {
        CO_MSG_DEBUG("Discovery: search from %s not answered (rate limit)", sender.c_str());
        return;
    }
    const std::string packet = Packet::encode(Packet::DISCOVER_SERVERS_REPLY, announcement_);
    try {
        groupSocket_.send(packet.data(), packet.size(), from);
    } catch (const Vantrel::CoException& error) {
        CO_MSG_WARNING("Discovery: %s: %s", error.what(), error.expertData());
    }
}

bool DiscoveryService::isSelf(const VantrelDaemonInfo& record) const {
    if (self_.getStorageId()[0] != '\0' || record.getStorageId()[0] != '\0')
        return std::strcmp(self_.getStorageId(), record.getStorageId()) == 0;
    return record.getNodePort() == self_.getNodePort() && record.isSameServer(self_);
}

std::vector<VantrelDaemonInfo> DiscoveryService::knownServers() const {
    std::vector<VantrelDaemonInfo> servers{self_};
    for (const VantrelDaemonInfo& heard : heard_.copy(nullptr)) servers.push_back(heard);
    return servers;
}

}  // namespace vantreld
