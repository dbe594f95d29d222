#include "tcp/CoIoTcpServerDescriptor.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tcp/TcpTestSupport.h"

namespace Vantrel {
namespace {

using testing::DebugCapture;
using testing::ScopedEnv;

const char ADDRESS_IN_USE_TEXT[] = "Address already in use";

std::string listeningMessage(const char* families, const CoIoTcpServerDescriptor& server) {
    return std::string("Listening for ") + families + " traffic on " +
           std::to_string(server.getPort()) + " [fd:" + std::to_string(server.id()) + "]";
}

bool reuseAddressIsOn(const CoIoDescriptor& io) {
    int on = 0;
    socklen_t length = sizeof on;
    EXPECT_EQ(0, getsockopt(io.id(), SOL_SOCKET, SO_REUSEADDR, &on, &length));
    return on != 0;
}

std::string localAddress(const CoIoTcpServerDescriptor& server) {
    std::string address;
    server.getSocketIP(address);
    return address;
}

// Connects a client to `port` on loopback; true when the connection is made.
bool canConnect(const char* host, int port) {
    CoIoTcpDescriptor client(host, port, 0, 0, 5);
    return client.isValid();
}

TEST(CoIoTcpServerDescriptorPorts, SystemChosenPortListens) {
    DebugCapture messages;
    CoIoTcpServerDescriptor server(-1, 0, 0);
    ASSERT_TRUE(server.isValid()) << server.lastError();
    EXPECT_GT(server.getPort(), 0);
    EXPECT_EQ("", server.lastError());
    EXPECT_TRUE(messages.containsExactly(listeningMessage("IPv4", server)));
    EXPECT_EQ("0.0.0.0", localAddress(server));
    EXPECT_TRUE(fcntl(server.id(), F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(reuseAddressIsOn(server)) << "a system-chosen port counts as searching";
    EXPECT_TRUE(canConnect("127.0.0.1", server.getPort()));
}

TEST(CoIoTcpServerDescriptorPorts, AFreeFixedPortIsTakenExactlyWithAddressReuse) {
    ScopedEnv noIpv6("ZR_TCP_DISABLE_IPV6", "1");
    DebugCapture messages;
    const int port = testing::closedLoopbackPort();
    CoIoTcpServerDescriptor server(port, 0, 0);
    ASSERT_TRUE(server.isValid()) << server.lastError();
    EXPECT_EQ(port, server.getPort());
    EXPECT_TRUE(messages.containsExactly(listeningMessage("IPv4", server)));
    EXPECT_TRUE(reuseAddressIsOn(server));
    EXPECT_TRUE(canConnect("127.0.0.1", port));
}

TEST(CoIoTcpServerDescriptorPorts, ABusyPortWithoutSearchFails) {
    CoIoTcpServerDescriptor holder(-1, 0, 0);
    ASSERT_TRUE(holder.isValid()) << holder.lastError();
    const int busy = holder.getPort();
    DebugCapture messages;
    std::unique_ptr<CoIoTcpServerDescriptor> attempts[] = {
        std::make_unique<CoIoTcpServerDescriptor>(busy, 0, 0),
        std::make_unique<CoIoTcpServerDescriptor>(busy, busy, 0, 0),  // a range of one port
    };
    for (const auto& server : attempts) {
        EXPECT_FALSE(server->isValid());
        EXPECT_EQ(-1, server->getPort());
        EXPECT_EQ(ADDRESS_IN_USE_TEXT, server->lastError());
    }
    const std::string bindFailure = "Could not bind to port '" + std::to_string(busy) + "' [fd:";
    int failures = 0;
    for (const std::string& text : messages.texts()) failures += text.rfind(bindFailure, 0) == 0;
    EXPECT_EQ(2, failures);
}

TEST(CoIoTcpServerDescriptorPorts, ASearchMovesPastBusyPorts) {
    CoIoTcpServerDescriptor first(-1, 0, 0);
    ASSERT_TRUE(first.isValid()) << first.lastError();
    const int busy = first.getPort();
    // Hold the next port too, so the search has to move more than once. If something else
    // holds it already, it is just as busy.
    CoIoTcpServerDescriptor second(busy + 1, 0, 0);

    CoIoTcpServerDescriptor upwards(-busy, 0, 0);
    ASSERT_TRUE(upwards.isValid()) << upwards.lastError();
    EXPECT_GT(upwards.getPort(), busy + 1);
    EXPECT_FALSE(reuseAddressIsOn(upwards));

    CoIoTcpServerDescriptor inRange(busy, busy + 50, 0, 0);
    ASSERT_TRUE(inRange.isValid()) << inRange.lastError();
    EXPECT_GT(inRange.getPort(), busy + 1);
    EXPECT_LE(inRange.getPort(), busy + 50);
    EXPECT_NE(upwards.getPort(), inRange.getPort());
    EXPECT_TRUE(canConnect("127.0.0.1", inRange.getPort()));
}

TEST(CoIoTcpServerDescriptorPorts, PortsThatNameNoPortOpenNothing) {
    const struct {
        const char* what;
        std::function<CoIoTcpServerDescriptor*()> make;
    } cases[] = {
        {"port 0", [] { return new CoIoTcpServerDescriptor(0, 0, 0); }},
        {"port 70000", [] { return new CoIoTcpServerDescriptor(70000, 0, 0); }},
        {"search from 70000", [] { return new CoIoTcpServerDescriptor(-70000, 0, 0); }},
        {"range from 0", [] { return new CoIoTcpServerDescriptor(0, 100, 0, 0); }},
        {"range from -5", [] { return new CoIoTcpServerDescriptor(-5, -1, 0, 0); }},
    };
    for (const auto& c : cases) {
        std::unique_ptr<CoIoTcpServerDescriptor> server(c.make());
        EXPECT_FALSE(server->isValid()) << c.what;
        EXPECT_EQ(-1, server->getPort()) << c.what;
        EXPECT_NE("", server->lastError()) << c.what;
    }
}

TEST(CoIoTcpServerDescriptorFamilies, TheEnvironmentChoosesTheFamily) {
    const struct {
        const char* disableIpv4;
        const char* disableIpv6;
        const char* families;  // null: no socket
        const char* wildcard;
        const char* clientHost;
    } cases[] = {
        {nullptr, nullptr, "IPv4", "0.0.0.0", "127.0.0.1"},
        {nullptr, "", "IPv4", "0.0.0.0", "127.0.0.1"},
        {"", nullptr, "IPv6", "::", "::1"},
        {"1", "1", nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        ScopedEnv ipv4("ZR_TCP_DISABLE_IPV4", c.disableIpv4);
        ScopedEnv ipv6("ZR_TCP_DISABLE_IPV6", c.disableIpv6);
        DebugCapture messages;
        CoIoTcpServerDescriptor server(-1, 0, 0);
        const std::string label = std::string(c.disableIpv4 ? "no IPv4 " : "") +
                                  (c.disableIpv6 ? "no IPv6" : "");
        if (c.families == nullptr) {
            EXPECT_FALSE(server.isValid()) << label;
            EXPECT_EQ(-1, server.getPort()) << label;
            EXPECT_EQ("No protocol available", server.lastError()) << label;
            continue;
        }
        ASSERT_TRUE(server.isValid()) << label << ": " << server.lastError();
        EXPECT_TRUE(messages.containsExactly(listeningMessage(c.families, server))) << label;
        EXPECT_EQ(c.wildcard, localAddress(server)) << label;
        EXPECT_TRUE(canConnect(c.clientHost, server.getPort())) << label;
    }
}

TEST(CoIoTcpServerDescriptorFamilies, WithoutIpv6NothingListensOnIpv6) {
    ScopedEnv ipv6("ZR_TCP_DISABLE_IPV6", "1");
    CoIoTcpServerDescriptor server(-1, 0, 0);
    ASSERT_TRUE(server.isValid()) << server.lastError();
    CoIoTcpDescriptor client("::1", server.getPort(), 0, 0, 5);
    EXPECT_FALSE(client.isValid());
    EXPECT_EQ("Connection refused", client.lastError());
}

// A bound address narrows what the socket accepts: 127.0.0.2 is loopback too, so only a socket
// bound to 127.0.0.1 itself refuses it, and an address of one family never falls back to the
// other.
TEST(CoIoTcpServerDescriptorAddress, ListensOnTheGivenAddressOnly) {
    const struct {
        const char* bindAddress;
        const char* local;  // the socket's own address once listening
        const char* families;
        std::vector<const char*> reachable;
        std::vector<const char*> refused;
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", "IPv4", {"127.0.0.1"}, {"127.0.0.2", "::1"}},
        {"::1", "::1", "IPv4/IPv6", {"::1"}, {"127.0.0.1"}},
        {"0.0.0.0", "0.0.0.0", "IPv4", {"127.0.0.1", "127.0.0.2"}, {"::1"}},
        {"::", "::", "IPv4/IPv6", {"::1"}, {}},
        {"", "0.0.0.0", "IPv4", {"127.0.0.1", "127.0.0.2"}, {"::1"}},
    };
    for (const auto& c : cases) {
        DebugCapture messages;
        CoIoTcpServerDescriptor server(-1, 0, 0, c.bindAddress);
        ASSERT_TRUE(server.isValid()) << c.bindAddress << ": " << server.lastError();
        EXPECT_GT(server.getPort(), 0) << c.bindAddress;
        EXPECT_EQ(c.bindAddress, server.getBindAddress());
        EXPECT_EQ(c.local, localAddress(server)) << c.bindAddress;
        EXPECT_TRUE(messages.containsExactly(listeningMessage(c.families, server)))
            << c.bindAddress;
        for (const char* host : c.reachable)
            EXPECT_TRUE(canConnect(host, server.getPort())) << c.bindAddress << " from " << host;
        for (const char* host : c.refused)
            EXPECT_FALSE(canConnect(host, server.getPort())) << c.bindAddress << " from " << host;
    }
}

TEST(CoIoTcpServerDescriptorAddress, FixedPortsAndRangesTakeTheAddressToo) {
    const int port = testing::closedLoopbackPort();
    CoIoTcpServerDescriptor fixed(port, 0, 0, "127.0.0.1");
    ASSERT_TRUE(fixed.isValid()) << fixed.lastError();
    EXPECT_EQ(port, fixed.getPort());
    EXPECT_TRUE(canConnect("127.0.0.1", port));

    // The same port on another address of the host is a different socket address: free.
    CoIoTcpServerDescriptor beside(port, 0, 0, "127.0.0.2");
    ASSERT_TRUE(beside.isValid()) << beside.lastError();
    EXPECT_EQ("127.0.0.2", localAddress(beside));

    CoIoTcpServerDescriptor inRange(port, port + 50, 0, 0, "::1");
    ASSERT_TRUE(inRange.isValid()) << inRange.lastError();
    EXPECT_EQ("::1", localAddress(inRange));
    EXPECT_TRUE(canConnect("::1", inRange.getPort()));
}

TEST(CoIoTcpServerDescriptorAddress, AnAddressThatCannotBeBoundFailsCleanly) {
    const struct {
        const char* bindAddress;
        const char* error;
    } cases[] = {
        {"localhost", "Invalid argument"},  // names are not looked up
        {"127.0.0.1:80", "Invalid argument"},
        {"256.1.1.1", "Invalid argument"},
        {" 127.0.0.1", "Invalid argument"},
        {"192.0.2.1", "Cannot assign requested address"},  // not an address of this host
        {"2001:db8::1", "Cannot assign requested address"},
    };
    for (const auto& c : cases) {
        DebugCapture messages;
        CoIoTcpServerDescriptor server(-1, 0, 0, c.bindAddress);
        EXPECT_FALSE(server.isValid()) << c.bindAddress;
        EXPECT_EQ(-1, server.getPort()) << c.bindAddress;
        EXPECT_EQ(c.error, server.lastError()) << c.bindAddress;
        int bindFailures = 0;
        for (const std::string& text : messages.texts())
            bindFailures += text.rfind("Could not bind to port '0' [fd:", 0) == 0;
        EXPECT_EQ(1, bindFailures) << c.bindAddress;
    }
}

TEST(CoIoTcpServerDescriptorAddress, TheEnvironmentCanRuleOutTheAddressFamily) {
    const struct {
        const char* disabled;
        const char* bindAddress;
        bool listens;
    } cases[] = {
        {"ZR_TCP_DISABLE_IPV4", "127.0.0.1", false},
        {"ZR_TCP_DISABLE_IPV6", "::1", false},
        {"ZR_TCP_DISABLE_IPV4", "::1", true},
        {"ZR_TCP_DISABLE_IPV6", "127.0.0.1", true},
    };
    for (const auto& c : cases) {
        ScopedEnv disabled(c.disabled, "1");
        CoIoTcpServerDescriptor server(-1, 0, 0, c.bindAddress);
        EXPECT_EQ(c.listens, server.isValid()) << c.disabled << " " << c.bindAddress;
        if (!c.listens) {
            EXPECT_EQ("No protocol available", server.lastError());
        }
    }
}

}  // namespace
}  // namespace Vantrel
