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
    void start() { service_.reset(new DiscoveryService(group_, self_)); }

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
    const auto heard = [&](size_t count) {
        for (int i = 0; i < 50 && service_->knownServers().size() != count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return service_->knownServers();
    };
    const std::vector<VantrelDaemonInfo> servers = heard(2);
    ASSERT_EQ(2u, servers.size());
    EXPECT_STREQ("self-id", servers[0].getStorageId());
    EXPECT_STREQ("other-id", servers[1].getStorageId());

    peer_.announce(Packet::REMOVE_SERVER, record("other-id", "OTHER"));
    EXPECT_EQ(1u, heard(1).size());
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
