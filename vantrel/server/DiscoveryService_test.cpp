// vantreld's side of discovery on real sockets. Run inside the private network namespace
// (scripts/in-netns.sh): loopback carries multicast there.
#include "vantrel/server/DiscoveryService.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "rcApi/rcAttrStream.h"
#include "testing/FreePort.h"
#include "testing/MessageCapture.h"
#include "vantrel/protocol/VantrelDiscoveryPacket.h"
#include "vantrel/server/ServerTestSupport.h"
#include "vantrel/server/VantreldServer.h"

namespace vantreld {
namespace {

typedef VantrelDiscoveryPacket Packet;
using Vantrel::CoMulticast;

using Vantrel::testing::freeUdpPort;

VantrelDaemonInfo record(const char* storageId, const char* database) {
    VantrelDaemonInfo info;
    info.setIPAddr(0, "127.0.0.1");
    info.setStorageId(storageId);
    info.setDatabase(database);
    info.setNodePort(7549);
    return info;
}

// A client of the group: a member socket that hears announcements, and a private socket that
// asks and hears the answers.
class Peer {
public:
    // The service binds the group port after the member: unicast datagrams to that port go to
    // the socket bound last, the service's.
    explicit Peer(unsigned port)
        : member_(port, "224.0.0.1", nullptr), asker_(port, "224.0.0.1", "127.0.0.1") {
        member_.bind(false);
        member_.join();
        asker_.setLoopback(true);
        asker_.bind(true);
    }

    void ask(const std::string& datagram, const char* host = nullptr) {
        asker_.send(datagram.data(), datagram.size(), host);
    }
    void announce(int type, const VantrelDaemonInfo& info) {
        ask(Packet::encode(type, info.toAttrStream().getStreamStr()), "127.0.0.1");
    }
    // The next packet of `type` on `socket` within half a second; INVALID when none came.
    static Packet::Decoded next(CoMulticast& socket, int type) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (std::chrono::steady_clock::now() < end) {
            pollfd wait = {socket.getSocket(), POLLIN, 0};
            if (::poll(&wait, 1, 100) != 1) continue;
            char buffer[Packet::MAX_SIZE];
            size_t length = sizeof buffer;
            sockaddr_storage from;
            socket.receive(buffer, length, from);
            Packet::Decoded packet;
            std::string error;
            if (Packet::decode(buffer, length, packet, error) && packet.type == type) return packet;
        }
        return Packet::Decoded();
    }
    Packet::Decoded answer() { return next(asker_, Packet::DISCOVER_SERVERS_REPLY); }
    Packet::Decoded announcement(int type) { return next(member_, type); }

private:
    CoMulticast member_;
    CoMulticast asker_;
};

class DiscoveryServiceTest : public ::testing::Test {
protected:
    DiscoveryServiceTest() : peer_(group_.port) {}

    static DiscoveryService::Group makeGroup() {
        DiscoveryService::Group group;
        group.port = freeUdpPort();
        return group;
    }
    void start(std::function<bool(const std::string&)> allows = {}) {
        service_.reset(new DiscoveryService(group_, self_, std::move(allows)));
    }
    // The servers listed once `count` are, or after a second.
    std::vector<VantrelDaemonInfo> heard(size_t count) {
        for (int i = 0; i < 100 && service_->knownServers().size() != count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return service_->knownServers();
    }

    Vantrel::testing::MessageCapture log_;
    const DiscoveryService::Group group_ = makeGroup();
    const VantrelDaemonInfo self_ = record("self-id", "QLXFS");
    Peer peer_;
    std::unique_ptr<DiscoveryService> service_;
};

TEST_F(DiscoveryServiceTest, AnnouncesAtStartAndSaysGoodbye) {
    start();
    const Packet::Decoded hello = peer_.announcement(Packet::DISCOVER_SERVERS);
    ASSERT_EQ(Packet::DISCOVER_SERVERS, hello.type);
    EXPECT_EQ(self_.toAttrStream().getStreamStr(), hello.payload);
    service_.reset();
    EXPECT_EQ(Packet::REMOVE_SERVER, peer_.announcement(Packet::REMOVE_SERVER).type);
}

TEST_F(DiscoveryServiceTest, AnswersSearchesForItsDatabaseOrAny) {
    start();
    struct Case {
        std::string payload;
        const char* host;
        bool answered;
    };
    const Case cases[] = {
        {"", nullptr, true},                                        // multicast, any server
        {"", "127.0.0.1", true},                                    // unicast
        {Packet::findServersPayload("QLXFS"), nullptr, true},       // its database
        {Packet::findServersPayload("OTHER"), "127.0.0.1", false},  // another kind
    };
    for (const Case& c : cases) {
        peer_.ask(Packet::encode(Packet::FIND_SERVERS, c.payload), c.host);
        const Packet::Decoded answer = peer_.answer();
        EXPECT_EQ(c.answered, answer.type == Packet::DISCOVER_SERVERS_REPLY) << c.payload;
        if (c.answered) {
            EXPECT_EQ(self_.toAttrStream().getStreamStr(), answer.payload);
        }
    }
}

TEST_F(DiscoveryServiceTest, DropsMalformedDatagramsAndGoesOn) {
    start();
    for (const std::string& datagram :
         {std::string("Version 1 0Type 2 74Data 0 "), std::string("Version 1 1Data 0 "),
          std::string(1024, '#'), std::string("Version 1 1Type 5 74Da")})
        peer_.ask(datagram, "127.0.0.1");
    peer_.ask(Packet::encode(Packet::FIND_SERVERS, ""), "127.0.0.1");
    EXPECT_EQ(Packet::DISCOVER_SERVERS_REPLY, peer_.answer().type);
    EXPECT_TRUE(log_.contains("Invalid/Corrupted packet received from '127.0.0.1:"));
}

TEST_F(DiscoveryServiceTest, ListsTheServersItHearsOf) {
    start();
    peer_.announce(Packet::DISCOVER_SERVERS, record("other-id", "OTHER"));
    peer_.announce(Packet::DISCOVER_SERVERS, self_);  // its own voice is not another server
    const std::vector<VantrelDaemonInfo> servers = heard(2);
    ASSERT_EQ(2u, servers.size());
    EXPECT_STREQ("self-id", servers[0].getStorageId());
    EXPECT_STREQ("other-id", servers[1].getStorageId());

    peer_.announce(Packet::REMOVE_SERVER, record("other-id", "OTHER"));
    EXPECT_EQ(1u, heard(1).size());
}

// A plain UDP socket sending from a loopback address other than 127.0.0.1: another host.
class Stranger {
public:
    explicit Stranger(const char* address) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &local.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~Stranger() { ::close(fd_); }
    bool bound() const { return bound_; }
    void send(unsigned port, const std::string& datagram) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
    // How many datagrams arrive within half a second.
    int received() {
        int count = 0;
        char buffer[Packet::MAX_SIZE];
        pollfd wait = {fd_, POLLIN, 0};
        while (::poll(&wait, 1, 500) == 1 && ::recv(fd_, buffer, sizeof buffer, 0) > 0) ++count;
        return count;
    }

private:
    int fd_;
    bool bound_ = false;
};

// A removal counts only from one of the removed server's addresses: a neighbour cannot make
// the server forget another.
TEST_F(DiscoveryServiceTest, RemovalsComeOnlyFromTheServerRemoved) {
    start();
    peer_.announce(Packet::DISCOVER_SERVERS, record("other-id", "OTHER"));  // at 127.0.0.1
    ASSERT_EQ(2u, heard(2).size());
    Stranger neighbour("127.0.0.2");
    ASSERT_TRUE(neighbour.bound());
    const std::string removal = Packet::encode(
        Packet::REMOVE_SERVER, record("other-id", "OTHER").toAttrStream().getStreamStr());
    neighbour.send(group_.port, removal);
    peer_.ask(Packet::encode(Packet::FIND_SERVERS, ""), "127.0.0.1");
    ASSERT_EQ(Packet::DISCOVER_SERVERS_REPLY, peer_.answer().type);  // the removal was read
    EXPECT_EQ(2u, service_->knownServers().size());
    EXPECT_TRUE(log_.contains("removal of 'other-id' from 127.0.0.2 refused"));
    peer_.announce(Packet::REMOVE_SERVER, record("other-id", "OTHER"));
    EXPECT_EQ(1u, heard(1).size());
}

// Searches are answered a burst at a time per source (a forged source is not flooded), and
// not at all for sources outside the allowed networks.
TEST_F(DiscoveryServiceTest, SearchesAreAnsweredWithinTheRateAndTheAllowedNetworks) {
    start([](const std::string& sender) { return sender != "127.0.0.3"; });
    Stranger searcher("127.0.0.2"), refused("127.0.0.3");
    ASSERT_TRUE(searcher.bound() && refused.bound());
    const std::string search = Packet::encode(Packet::FIND_SERVERS, "");
    for (int i = 0; i < 100; ++i) {
        searcher.send(group_.port, search);
        refused.send(group_.port, search);
    }
    const int answered = searcher.received();
    EXPECT_GE(answered, 1);
    EXPECT_LE(answered, static_cast<int>(ReplyRateLimit::BURST) + 10);  // a burst, and the rate
    EXPECT_EQ(0, refused.received());
    peer_.ask(search, "127.0.0.1");  // another source still has its own
    EXPECT_EQ(Packet::DISCOVER_SERVERS_REPLY, peer_.answer().type);
}

// Thousands of forged announcements: the list stops at its bound and the service goes on.
TEST_F(DiscoveryServiceTest, TheListOfServersHeardIsBounded) {
    start();
    const size_t bound = DiscoveryService::MAX_HEARD_SERVERS;
    for (size_t i = 0; i < bound + 200; ++i) {
        const std::string id = "forged-" + std::to_string(i);
        peer_.announce(Packet::DISCOVER_SERVERS, record(id.c_str(), "X"));
        if (i % 50 == 49) heard(std::min(i + 2, bound + 1));  // paced: no datagram is lost
    }
    EXPECT_EQ(bound + 1, heard(bound + 1).size());
    peer_.ask(Packet::encode(Packet::FIND_SERVERS, ""), "127.0.0.1");
    EXPECT_EQ(Packet::DISCOVER_SERVERS_REPLY, peer_.answer().type);
}

// The server's configuration file chooses the group; the record announced is the server's.
TEST(VantreldDiscovery, TheConfigurationChoosesTheGroupPort) {
    testing::TempDir dir;
    const unsigned port = freeUdpPort();
    std::ofstream(dir / "server.cfg") << "[SelfDiscovery]\nPort = " << port << "\nTTL = 2\n";
    Peer peer(port);
    VantreldServer::Options options;
    options.directory = dir / "tree";
    options.port = 0;
    options.sync = ServerFiles::Sync::FAST;
    options.configFile = dir / "server.cfg";
    options.discovery = true;
    VantreldThread server(options);
    peer.ask(Packet::encode(Packet::FIND_SERVERS, ""), "127.0.0.1");
    const Packet::Decoded answer = peer.answer();
    ASSERT_EQ(Packet::DISCOVER_SERVERS_REPLY, answer.type);
    const VantrelDaemonInfo announced{Vantrel::rcAttrStream(answer.payload)};
    EXPECT_EQ(server.nodePort(), announced.getNodePort());
    EXPECT_STREQ(server.server().store().storageId().c_str(), announced.getStorageId());
}

}  // namespace
}  // namespace vantreld
