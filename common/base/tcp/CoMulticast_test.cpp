// Run inside the private network namespace (scripts/in-netns.sh): loopback carries multicast.
#include "tcp/CoMulticast.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "TcpTestSupport.h"
#include "vantrel/CoException.h"
#include "tcp/CoIoTcpDescriptor.h"

namespace Vantrel {
namespace {

using testing::RawSocket;

const char GROUP[] = "224.0.0.1";

// A UDP socket bound to `address`:`port` (0: chosen by the system) with bare system calls.
RawSocket udpSocket(const char* address, unsigned port) {
    RawSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &local.sin_addr);
    if (::bind(socket.fd(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        socket.reset();
    return socket;
}

unsigned localPort(int fd) {
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(reinterpret_cast<sockaddr_in&>(address).sin_port);
}

// A UDP port nobody holds right now.
unsigned freePort() { return localPort(udpSocket("0.0.0.0", 0).fd()); }

bool readable(int fd) {
    pollfd entry = {fd, POLLIN, 0};
    return ::poll(&entry, 1, 2000) == 1;
}

std::string receiveText(CoMulticast& socket, sockaddr_storage& from) {
    if (!readable(socket.getSocket())) return "<nothing>";
    char buffer[1024];
    size_t length = sizeof buffer;
    socket.receive(buffer, length, from);
    return std::string(buffer, length);
}

std::string failureOf(void (*operation)()) {
    try {
        operation();
    } catch (const CoException& error) {
        return error.what();
    }
    return "<no exception>";
}

int reuseAddress(const CoMulticast& socket) {
    int value = -1;
    socklen_t size = sizeof value;
    ::getsockopt(socket.getSocket(), SOL_SOCKET, SO_REUSEADDR, &value, &size);
    return value;
}

TEST(CoMulticastTest, GroupMembersReceiveAndAnswerTheSender) {
    const unsigned port = freePort();
    CoMulticast group(port, GROUP, nullptr);
    group.bind(false);
    group.join();
    CoMulticast sender(port, GROUP, "127.0.0.1");
    sender.setLoopback(true);
    sender.bind(true);
    EXPECT_EQ(1, reuseAddress(group));
    EXPECT_EQ(0, reuseAddress(sender));

    sender.send("hello", 5);
    sockaddr_storage from;
    EXPECT_EQ("hello", receiveText(group, from));
    std::string ip;
    unsigned fromPort = 0;
    CoMulticast::addrToIPAndPort(from, ip, fromPort);
    EXPECT_EQ("127.0.0.1", ip);
    EXPECT_GE(fromPort, CoMulticast::FIRST_ANY_PORT);

    group.send("reply", 5, from);
    EXPECT_EQ("reply", receiveText(sender, from));
    group.drop();
}

TEST(CoMulticastTest, AnyPortSearchSkipsBusyPorts) {
    // An address of its own, so that other tests' private sockets do not take the ports.
    const char address[] = "127.0.0.77";
    RawSocket first = udpSocket(address, CoMulticast::FIRST_ANY_PORT);
    RawSocket second = udpSocket(address, CoMulticast::FIRST_ANY_PORT + 1);
    ASSERT_GE(first.fd(), 0);
    ASSERT_GE(second.fd(), 0);
    CoMulticast socket(7555, GROUP, address);
    socket.bind(true);
    EXPECT_EQ(CoMulticast::FIRST_ANY_PORT + 2, localPort(socket.getSocket()));
}

TEST(CoMulticastTest, BindFailsAtOnceOnAnotherError) {
    CoMulticast socket(7555, GROUP, "10.9.9.9");  // not an address of this host
    try {
        socket.bind(true);
        FAIL() << "bound to a foreign address";
    } catch (const CoException& error) {
        EXPECT_STREQ("Unable to bind to 10.9.9.9,49152", error.what());
        EXPECT_STREQ(std::strerror(EADDRNOTAVAIL), error.expertData());
    }
    // Still usable.
    EXPECT_NO_THROW(socket.setTTL(3));
}

TEST(CoMulticastTest, BusyGroupPortWithoutReuseNamesThePort) {
    RawSocket busy = udpSocket("0.0.0.0", 0);
    const unsigned port = localPort(busy.fd());
    CoMulticast socket(port, GROUP, nullptr);
    try {
        socket.bind(false);
        FAIL() << "bound to a busy port";
    } catch (const CoException& error) {
        EXPECT_EQ("Unable to bind to port " + std::to_string(port), error.what());
    }
}

TEST(CoMulticastTest, OptionsReadBackInBothFamilies) {
    for (const char* scope : {"224.0.0.1", "ff02::1"}) {
        CoMulticast socket(7555, scope, nullptr);
        socket.setTTL(7);
        EXPECT_EQ(7, socket.getTTL()) << scope;
        socket.setLoopback(false);
        EXPECT_FALSE(socket.willLoopback()) << scope;
        socket.setLoopback(true);
        EXPECT_TRUE(socket.willLoopback()) << scope;
    }
    EXPECT_EQ(AF_INET6, CoMulticast(7555, "ff02::1", nullptr).getFamily());
    EXPECT_EQ(AF_INET, CoMulticast(7555, "224.0.0.1", nullptr).getFamily());
}

TEST(CoMulticastTest, EmptyScopeIsRefused) {
    EXPECT_EQ("Empty scope", failureOf([] { CoMulticast socket(7555, nullptr, nullptr); }));
    EXPECT_EQ("Empty scope", failureOf([] { CoMulticast socket(7555, "", "127.0.0.1"); }));
}

TEST(CoMulticastTest, JoinOnAForeignInterfaceFails) {
    const std::string failure = failureOf([] {
        CoMulticast socket(7555, GROUP, "10.9.9.9");
        socket.join();
    });
    EXPECT_EQ(0u, failure.find("Unable to join multicast group 224.0.0.1.")) << failure;
}

TEST(CoMulticastTest, IPv6InterfaceIndexOfLocalAndUnknownAddresses) {
    EXPECT_EQ(0u, CoMulticast::interfaceIndexOf("2001:db8::77"));
    EXPECT_EQ(if_nametoindex("lo"), CoMulticast::interfaceIndexOf("::1"));
    EXPECT_EQ("Unable to acquire network interface list",
              failureOf([] { CoMulticast::interfaceIndexOf("not-an-address"); }));
    // An unknown interface joins with index 0: the system picks the interface by route.
    CoMulticast socket(freePort(), "ff02::1", "2001:db8::77");
    socket.bind(false);
    EXPECT_NO_THROW(socket.join());
}

TEST(CoMulticastTest, AResetOnReceiveReadsAsAnEmptyDatagram) {
    CoMulticast socket(7555, GROUP, "127.0.0.1");
    socket.bind(true);
    const unsigned closedPort = freePort();
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(closedPort));
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Connected, the socket hears of the peer's port-unreachable on its next receive.
    ASSERT_EQ(0, ::connect(socket.getSocket(), reinterpret_cast<sockaddr*>(&peer), sizeof peer));
    socket.send("x", 1, "127.0.0.1", closedPort);
    ASSERT_TRUE(readable(socket.getSocket()));
    char buffer[16];
    size_t length = sizeof buffer;
    sockaddr_storage from;
    socket.receive(buffer, length, from);
    EXPECT_EQ(0u, length);
}

TEST(CoMulticastTest, LocalhostMeansThisHostsOwnAddress) {
    testing::ScopedFakeResolver resolver;
    resolver.setLocalHostName("thishost");
    resolver.add("thishost", {"127.0.0.9"});
    CoIoTcpDescriptor::resetCachedValues();
    RawSocket receiver = udpSocket("127.0.0.9", 0);
    ASSERT_GE(receiver.fd(), 0);
    CoMulticast socket(7555, GROUP, "127.0.0.1");
    socket.bind(true);
    socket.send("own", 3, "localhost", localPort(receiver.fd()));
    ASSERT_TRUE(readable(receiver.fd()));
    char buffer[16];
    EXPECT_EQ(3, ::recv(receiver.fd(), buffer, sizeof buffer, 0));
    CoIoTcpDescriptor::resetCachedValues();
}

TEST(CoMulticastTest, SendToAnUnresolvableHostNamesIt) {
    EXPECT_EQ("Unable to send 2 bytes to no:such:host:9", failureOf([] {
                  CoMulticast socket(7555, "ff02::1", nullptr);
                  socket.send("ab", 2, "no:such:host", 9);
              }));
}

}  // namespace
}  // namespace Vantrel
