// Datagram handling of the discovery client on real sockets. Run inside the private network
// namespace (scripts/in-netns.sh): loopback carries multicast there.
#include "vantrel/client/discovery/VantrelMulticastClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "testing/FreePort.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/VantrelServerList.h"
#include "vantrel/VantrelServerInfo.h"
#include "vantrel/protocol/VantrelDiscoveryPacket.h"

namespace {

typedef VantrelDiscoveryPacket Packet;

using Vantrel::testing::freeUdpPort;

// Opens the waiting loop to the test; the listening thread is never started.
class WaitingClient : public VantrelMulticastClient {
public:
    explicit WaitingClient(unsigned port) : VantrelMulticastClient(port, "224.0.0.1", 1) {
        openPublicSocket();
    }
    using VantrelMulticastClient::waitForActivity;
};

class MulticastClientTest : public ::testing::Test {
protected:
    MulticastClientTest()
        : port_(freeUdpPort()), client_(port_), peer_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~MulticastClientTest() override { ::close(peer_); }

    // One datagram to the client's public socket, then one wait for what it changes.
    bool deliver(const std::string& datagram) {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port_));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(peer_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        return client_.waitForActivity(300000);
    }

    vantrel_testing::DebugLog log_;
    const unsigned port_;
    WaitingClient client_;
    const int peer_;
};

const char RECORD[] = "IP0 9 127.0.0.1VersionMajor 1 3StorageId 4 s-01";

TEST_F(MulticastClientTest, AnnouncementsOfAnyVersionButZeroAreListed) {
    EXPECT_TRUE(deliver("Version 1 2Type 2 71Data " + std::to_string(sizeof RECORD - 1) + " " +
                        RECORD));
    ASSERT_EQ(1u, client_.servers().size());
    const VantrelDaemonInfo listed = client_.servers().copy(nullptr).front();
    EXPECT_STREQ("s-01", listed.getStorageId());
    EXPECT_EQ(7549, listed.getNodePort());
    EXPECT_STREQ("QLXFS", listed.getDatabase());

    EXPECT_TRUE(deliver(Packet::encode(Packet::REMOVE_SERVER, RECORD)));
    EXPECT_EQ(0u, client_.servers().size());
}

TEST_F(MulticastClientTest, DebugLevelsChooseWhatIsTraced) {
    const std::string packet = Packet::encode(Packet::DISCOVER_SERVERS, RECORD);
    const int saved = VantrelKnownServers::debugLevel();
    for (int level : {0, 1, 2}) {
        VantrelKnownServers::setDebugLevel(level);
        log_.clear();
        client_.servers().clear();
        EXPECT_TRUE(deliver(packet));
        EXPECT_EQ(level >= 1 ? 1 : 0, log_.count("Vantrel Multicast: adding 's-01'")) << level;
        EXPECT_EQ(level >= 1 ? 1 : 0, log_.count("Vantrel Multicast: received 'DISCOVER_SERVERS'"))
            << level;
        EXPECT_EQ(level >= 2 ? 1 : 0, log_.count("Vantrel Multicast: datagram of")) << level;
    }
    VantrelKnownServers::setDebugLevel(saved);
}

TEST_F(MulticastClientTest, MalformedDatagramsAreDroppedWithAWarning) {
    struct Case {
        std::string datagram;
        const char* reason;
    };
    const Case cases[] = {
        {"Version 1 0Type 2 71Data 0 ", "Request's version is incompatible: 0"},
        {"Version 1 1Data 0 ", "Request is lacking a type tag"},
        {"Type 2 71Data 0 ", "Request is lacking a version tag"},
        {"Version 1 1Type 2 99Data 0 ", "Unknown request type: 99."},
        {"Version 1 1Type 2 71", "Request is lacking data"},
        {std::string(1024, '\x9c'), "Request is lacking a version tag"},
    };
    for (const Case& c : cases) {
        log_.clear();
        EXPECT_FALSE(deliver(c.datagram)) << c.reason;
        EXPECT_EQ(1, log_.count("Invalid/Corrupted packet received from '127.0.0.1:", c.reason))
            << c.reason;
    }
    // Still listening.
    EXPECT_TRUE(deliver(Packet::encode(Packet::DISCOVER_SERVERS_REPLY, RECORD)));
    EXPECT_EQ(1u, client_.servers().size());
}

TEST_F(MulticastClientTest, RequestsOfOtherClientsChangeNothing) {
    EXPECT_FALSE(deliver(Packet::encode(Packet::FIND_SERVERS, "")));
    EXPECT_FALSE(deliver(Packet::encode(Packet::START_OF_SERVICES, RECORD)));
    EXPECT_EQ(0u, client_.servers().size());
}

TEST_F(MulticastClientTest, PrivateSocketsSendSearchesToTheGroup) {
    // The group socket of a pretend server on the client's port.
    Vantrel::CoMulticast server(port_, "224.0.0.1", nullptr);
    server.bind(false);
    server.join();
    client_.sendDiscovery("MINE");
    char buffer[1024];
    size_t length = sizeof buffer;
    sockaddr_storage from;
    // The client's own public socket hears it too; the server socket must have it.
    server.receive(buffer, length, from);
    EXPECT_EQ("Version 1 1Type 2 74Data 15 Database 4 MINE", std::string(buffer, length));
    std::string ip;
    unsigned fromPort = 0;
    Vantrel::CoMulticast::addrToIPAndPort(from, ip, fromPort);
    EXPECT_GE(fromPort, Vantrel::CoMulticast::FIRST_ANY_PORT);

    // The answer goes back to the private socket that asked.
    const std::string reply = Packet::encode(Packet::DISCOVER_SERVERS_REPLY, RECORD);
    server.send(reply.data(), reply.size(), from);
    EXPECT_TRUE(client_.waitForActivity(1000000));
    EXPECT_EQ(1u, client_.servers().size());
}

// The first search asks this host by unicast. The group port is shared with the local server
// (address reuse), and such a datagram reaches one socket only: the server's, because the
// client binds its own after that search.
TEST(MulticastClientStartTest, TheLocalServerHearsTheFirstSearch) {
    const unsigned port = freeUdpPort();
    // Bound, never joined, and deaf to groups that other sockets joined: unicast only.
    Vantrel::CoMulticast localServer(port, "239.255.0.7", nullptr);
    localServer.bind(false);
    const int off = 0;
    ASSERT_EQ(0, ::setsockopt(localServer.getSocket(), IPPROTO_IP, IP_MULTICAST_ALL, &off,
                              sizeof off));
    std::thread answering([&] {
        pollfd wait = {localServer.getSocket(), POLLIN, 0};
        if (::poll(&wait, 1, 3000) != 1) return;
        char buffer[1024];
        size_t length = sizeof buffer;
        sockaddr_storage from;
        localServer.receive(buffer, length, from);
        const std::string reply = Packet::encode(Packet::DISCOVER_SERVERS_REPLY, RECORD);
        localServer.send(reply.data(), reply.size(), from);
    });
    vantrel_testing::DebugLog log;  // keeps the failed list fetch off the output
    VantrelMulticastClient client(port, "239.255.0.7", 1);
    client.start();
    answering.join();
    EXPECT_EQ(1u, client.servers().size());
}

TEST(ServerListTest, BoundsAndUnknownServers) {
    VantrelServerList list("", nullptr, 0);
    VantrelServerInfo info;
    EXPECT_FALSE(list.getNode(-1, info));
    EXPECT_STREQ("Index -1 is out of the bounds 0,0.", list.lastError());
    EXPECT_FALSE(list.getNode(0, info));
    EXPECT_STREQ("Index 0 is out of the bounds 0,0.", list.lastError());
    EXPECT_STREQ("", list.getGatewayIpAddr());
    EXPECT_EQ(0, list.getGatewayPort());
    VantrelServerList copy(list);
    EXPECT_STREQ(list.lastError(), copy.lastError());
}

}  // namespace
