#include "vantrel/client/discovery/VantrelKnownServers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rcApi/rcAttrStream.h"
#include "vantrel/client/connection/VantrelLocalHostProvider.h"

namespace {

constexpr uint64_t SECOND = 1000000;
constexpr uint64_t NOW = 1700000000ull * SECOND;

// This machine: loopback and 10.0.0.1, with host UUID "uuid-here".
class ThisHost : public VantrelLocalHostProvider {
public:
    std::string hostName() const override { return "here"; }
    std::vector<std::string> interfaceAddresses() const override {
        return {"127.0.0.1", "10.0.0.1"};
    }
    bool hostUUID(std::string& uuid) const override {
        uuid = "uuid-here";
        return true;
    }
};

class KnownServersTest : public ::testing::Test {
protected:
    void SetUp() override { VantrelLocalHostProvider::install(&host_); }
    void TearDown() override { VantrelLocalHostProvider::install(nullptr); }

    ThisHost host_;
};

VantrelDaemonInfo received(const std::string& text) {
    return VantrelDaemonInfo(Vantrel::rcAttrStream(text));
}

VantrelDaemonInfo server(const char* storageId, const char* address, const char* name = "") {
    VantrelDaemonInfo info = received("");
    info.setVersion(3, 0, 0, 0);
    info.setStorageId(storageId);
    info.setIPAddr(0, address);
    info.setDisplayName(name);
    info.setDatabase("QLXFS");
    info.setNodePort(7549);
    return info;
}

std::vector<std::string> ipAddrs(const VantrelDaemonInfo& info, bool data = false) {
    std::vector<std::string> addresses;
    for (int i = 0; i < info.getNumIPAddrs() || i < info.getNumFrameIPAddrs(); ++i) {
        const char* address = data ? info.getFrameIPAddr(i) : info.getIPAddr(i);
        if (address[0] != '\0') addresses.push_back(address);
    }
    return addresses;
}

TEST_F(KnownServersTest, CleanUpAddsTheSenderAndDropsLoopbackOfOtherHosts) {
    struct Case {
        const char* what;
        std::string record;
        const char* sender;
        std::vector<std::string> ips, frameIps;
    };
    const Case cases[] = {
        {"another host announcing loopback", "IP0 9 127.0.0.1", "10.0.0.7", {"10.0.0.7"}, {}},
        {"this host by UUID keeps loopback", "IP0 9 127.0.0.1HostUUID 9 uuid-here", "10.0.0.1",
         {"127.0.0.1", "10.0.0.1"}, {"127.0.0.1"}},
        {"another host's UUID drops loopback", "IP0 9 127.0.0.1HostUUID 5 other", "127.0.0.1",
         {}, {}},
        {"sender already listed", "IP0 8 10.0.0.7IP1 9 127.0.0.1FrameIP0 8 10.0.0.8", "10.0.0.7",
         {"10.0.0.7"}, {"10.0.0.8"}},
        {"no free slot for the sender",
         "IP0 3 a.1IP1 3 a.2IP2 3 a.3IP3 3 a.4IP4 3 a.5FrameIP0 9 127.0.0.1", "10.0.0.7",
         {"a.1", "a.2", "a.3", "a.4", "a.5"}, {}},
        {"gaps close up", "IP0 8 10.0.0.5IP1 9 127.0.0.1IP2 8 10.0.0.6", "10.0.0.5",
         {"10.0.0.5", "10.0.0.6"}, {"10.0.0.5"}},
    };
    for (const Case& c : cases) {
        VantrelDaemonInfo record = received(c.record);
        VantrelKnownServers::cleanUp(record, c.sender);
        EXPECT_EQ(c.ips, ipAddrs(record)) << c.what;
        EXPECT_EQ(c.frameIps, ipAddrs(record, true)) << c.what;
    }
}

TEST_F(KnownServersTest, CleanUpGivesTheDefaultPortAndDatabase) {
    VantrelDaemonInfo bare = received("IP0 8 10.0.0.7");
    VantrelKnownServers::cleanUp(bare, "10.0.0.7");
    EXPECT_EQ(7549, bare.getNodePort());
    EXPECT_STREQ("QLXFS", bare.getDatabase());

    VantrelDaemonInfo given = received("IP0 8 10.0.0.7NodePort 4 9000Database 4 MINE");
    VantrelKnownServers::cleanUp(given, "10.0.0.7");
    EXPECT_EQ(9000, given.getNodePort());
    EXPECT_STREQ("MINE", given.getDatabase());
}

TEST_F(KnownServersTest, AddsUpdatesAndKeepsListOrder) {
    VantrelKnownServers servers;
    servers.addOrUpdate(server("s-2", "10.0.0.2", "beta"));
    servers.addOrUpdate(server("s-1", "10.0.0.3", "alpha"));
    servers.addOrUpdate(server("s-2", "10.0.0.9", "beta"));  // the same server, moved
    const std::vector<VantrelDaemonInfo> listed = servers.copy(nullptr);
    ASSERT_EQ(2u, listed.size());
    EXPECT_STREQ("alpha", listed[0].getDisplayName());
    EXPECT_STREQ("10.0.0.9", listed[1].getIPAddr(0));
    EXPECT_EQ(0u, servers.copy("OTHER").size());
    EXPECT_EQ(2u, servers.copy("QLXFS").size());

    VantrelServerId id;
    id.setStorageId("s-2");
    VantrelDaemonInfo found;
    ASSERT_TRUE(servers.resolve(id, found));
    EXPECT_STREQ("10.0.0.9", found.getIPAddr(0));
}

// A bounded list refuses new servers when full but still takes updates of listed ones; the
// order is the full sort's whatever the order of arrival.
TEST_F(KnownServersTest, ABoundedListKeepsItsServersInOrder) {
    VantrelKnownServers servers(3);
    EXPECT_TRUE(servers.addOrUpdate(server("s-3", "10.0.0.3", "gamma")));
    EXPECT_TRUE(servers.addOrUpdate(server("s-1", "10.0.0.1", "alpha")));
    EXPECT_TRUE(servers.addOrUpdate(server("s-2", "10.0.0.2", "beta")));
    EXPECT_FALSE(servers.addOrUpdate(server("s-4", "10.0.0.4", "delta")));
    EXPECT_TRUE(servers.addOrUpdate(server("s-1", "10.0.0.1", "zeta")));  // renamed: moves
    std::vector<std::string> names;
    for (const VantrelDaemonInfo& listed : servers.copy(nullptr))
        names.push_back(listed.getDisplayName());
    EXPECT_EQ((std::vector<std::string>{"beta", "gamma", "zeta"}), names);
}

TEST_F(KnownServersTest, AnnouncedRemovalAndDroppedServers) {
    VantrelKnownServers servers;
    servers.addOrUpdate(server("s-1", "10.0.0.2"));
    servers.addOrUpdate(server("s-2", "10.0.0.3"));
    EXPECT_TRUE(servers.removeNamedBy(server("s-1", "10.0.0.99")));
    EXPECT_FALSE(servers.removeNamedBy(server("s-1", "10.0.0.2")));
    EXPECT_TRUE(servers.removeSame(server("s-2", "")));
    EXPECT_EQ(0u, servers.size());
}

// Announcements name their sender: only an address of a listed server moves or removes it.
TEST_F(KnownServersTest, OnlyTheServersOwnAddressesChangeItsRecord) {
    VantrelKnownServers servers;
    VantrelDaemonInfo genuine = server("s-1", "10.0.0.2", "genuine");
    genuine.setFrameIPAddr(0, "10.0.1.2");
    genuine.setLastSeen(NOW);
    ASSERT_TRUE(servers.addOrUpdate(genuine, "10.0.0.2"));
    const VantrelDaemonInfo spoofed = server("s-1", "10.0.0.66", "spoofed");
    EXPECT_FALSE(servers.addOrUpdate(spoofed, "10.0.0.66"));
    EXPECT_FALSE(servers.removeNamedBy(spoofed, "10.0.0.66"));
    ASSERT_EQ(1u, servers.size());
    EXPECT_STREQ("genuine", servers.copy(nullptr)[0].getDisplayName());
    // From its data address, the server itself may move.
    VantrelDaemonInfo moved = server("s-1", "10.0.0.3", "moved");
    moved.setLastSeen(NOW);
    EXPECT_TRUE(servers.addOrUpdate(moved, "10.0.1.2"));
    EXPECT_STREQ("moved", servers.copy(nullptr)[0].getDisplayName());
    EXPECT_TRUE(servers.removeNamedBy(moved, "10.0.0.3"));
    // Once the listed server fell silent and was discarded, the next announcement is listed.
    ASSERT_TRUE(servers.addOrUpdate(genuine, "10.0.0.2"));
    EXPECT_EQ(1u, servers.discardInactive(NOW + 601 * SECOND, 300 * SECOND));
    EXPECT_TRUE(servers.addOrUpdate(spoofed, "10.0.0.66"));
}

// A flood of announcements with new storage ids is bounded per sender and in all; servers
// already listed are still updated, and other senders still find room.
TEST_F(KnownServersTest, FloodsOfNewServersAreBounded) {
    VantrelKnownServers servers;
    ASSERT_TRUE(servers.addOrUpdate(server("genuine", "10.0.0.2", "before"), "10.0.0.2"));
    for (int i = 0; i < 5000; ++i)
        servers.addOrUpdate(server(("flood-" + std::to_string(i)).c_str(), "10.0.0.66"),
                            "10.0.0.66");
    EXPECT_EQ(1 + VantrelKnownServers::MAX_PER_SENDER, servers.size());
    EXPECT_TRUE(servers.addOrUpdate(server("late", "10.0.0.3"), "10.0.0.3"));
    for (int i = 0; i < 5000; ++i) {
        const std::string sender = "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250);
        servers.addOrUpdate(server(("spread-" + std::to_string(i)).c_str(), sender.c_str()),
                            sender.c_str());
    }
    EXPECT_EQ(VantrelKnownServers::MAX_SERVERS, servers.size());
    EXPECT_FALSE(servers.addOrUpdate(server("new", "10.0.0.4"), "10.0.0.4"));
    EXPECT_TRUE(servers.addOrUpdate(server("genuine", "10.0.0.2", "after"), "10.0.0.2"));
    VantrelServerId id;
    id.setStorageId("genuine");
    VantrelDaemonInfo found;
    ASSERT_TRUE(servers.resolve(id, found));
    EXPECT_STREQ("after", found.getDisplayName());
    // Records without a storage id have a smaller bound of their own.
    servers.clear();
    for (int i = 0; i < 200; ++i) {
        const std::string address = "10.2.0." + std::to_string(i);
        servers.addOrUpdate(server("", address.c_str()), address.c_str());
    }
    EXPECT_EQ(VantrelKnownServers::MAX_WITHOUT_STORAGE_ID, servers.size());
}

TEST_F(KnownServersTest, SilentServersGoAfterTwiceTheResyncTime) {
    VantrelKnownServers servers;
    VantrelDaemonInfo recent = server("recent", "10.0.0.2");
    recent.setLastSeen(NOW - 599 * SECOND);
    VantrelDaemonInfo silent = server("silent", "10.0.0.3");
    silent.setLastSeen(NOW - 601 * SECOND);
    VantrelDaemonInfo renewed = server("renewed", "10.0.0.4");
    renewed.setLastSeen(NOW - 900 * SECOND);
    for (const VantrelDaemonInfo& record : {recent, silent, renewed}) servers.addOrUpdate(record);
    EXPECT_TRUE(servers.touch(server("renewed", ""), NOW));
    EXPECT_FALSE(servers.touch(server("unknown", ""), NOW));

    EXPECT_EQ(1u, servers.discardInactive(NOW, 300 * SECOND));
    const std::vector<VantrelDaemonInfo> left = servers.copy(nullptr);
    ASSERT_EQ(2u, left.size());
    for (const VantrelDaemonInfo& record : left) EXPECT_STRNE("silent", record.getStorageId());
}

}  // namespace
