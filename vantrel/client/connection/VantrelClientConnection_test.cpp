#include "vantrel/client/connection/VantrelClientConnection.h"

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "vantrel/CoException.h"
#include "network/CoNetworkUtil.h"
#include "tcp/TcpTestSupport.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

using vantrel_testing::DebugLog;
using Vantrel::testing::ScopedFakeResolver;
using vantrel_testing::ClientScope;

TEST(VantrelClientConnection, CacheSettingsComeFromOneNumber) {
    const struct {
        const char* value;
        int capacity;
        long long idleSeconds;
    } cases[] = {
        {nullptr, 16, 30}, {"", 16, 30}, {"4", 4, 4}, {"0", 0, 0}, {"abc", 0, 0}, {"12x", 12, 12},
    };
    for (const auto& c : cases) {
        const VantrelClientConnection::CacheSettings s = VantrelClientConnection::cacheSettings(c.value);
        EXPECT_EQ(c.capacity, s.capacity) << (c.value ? c.value : "unset");
        EXPECT_EQ(c.idleSeconds, s.idleSeconds) << (c.value ? c.value : "unset");
    }
}

TEST(VantrelClientConnection, NormalisesTheServerIdAndSeedsTheRecord) {
    ScopedFakeResolver resolver;
    resolver.add("studio", {"10.9.8.7"});
    VantrelServerId withStorage("ghost:0");
    withStorage.setStorageId("store-1");
    const struct {
        const char* name;
        VantrelServerId id;
        const char* address;
        const char* database;
        int port;
    } cases[] = {
        {"nothing gets QLXFS", VantrelServerId(""), "", "QLXFS", 0},
        {"host name resolved", VantrelServerId("studio:7549"), "10.9.8.7", "", 7549},
        {"database kept", VantrelServerId("studio:projects"), "10.9.8.7", "projects", 0},
        {"address alone gets QLXFS", VantrelServerId("10.1.2.3"), "10.1.2.3", "QLXFS", 0},
        {"unresolved name kept", VantrelServerId("nowhere:7549"), "nowhere", "", 7549},
        {"storage id: untouched", withStorage, "ghost", "0", 0},
    };
    for (const auto& c : cases) {
        VantrelClientConnection connection(c.id);
        EXPECT_STREQ(c.address, connection.serverId().getIPAddr()) << c.name;
        EXPECT_STREQ(c.database, connection.serverId().getDB()) << c.name;
        const VantrelDaemonInfo& info = *connection.daemonInfo(true);
        EXPECT_STREQ(c.address, info.getIPAddr(0)) << c.name;
        EXPECT_STREQ(c.database, info.getDatabase()) << c.name;
        EXPECT_EQ(c.port, info.getNodePort()) << c.name;
        EXPECT_STREQ(c.id.getStorageId(), info.getStorageId()) << c.name;
    }
}

TEST(VantrelClientConnection, NoAddressOrPortIsARefusedConnection) {
    VantrelClientConnection connection(VantrelServerId("studio:projects"));
    std::string reply;
    try {
        connection.call("Ping", "", true, reply, 1000);
        FAIL() << "call succeeded";
    } catch (const Vantrel::CoException& e) {
        EXPECT_EQ(Vantrel::CoNetworkUtil::strerror(ECONNREFUSED), e.what());
    }
    EXPECT_FALSE(connection.isConnected());
}

TEST(VantrelClientConnectionCache, NeedsAnInitialisedLibrary) {
    VantrelClientConnection::Shared shared;
    try {
        shared.acquire(VantrelServerId("10.0.0.1:7549"));
        FAIL() << "acquired without the library";
    } catch (const Vantrel::CoException& e) {
        EXPECT_STREQ("Vantrel client library not initialised.", e.what());
    }
    EXPECT_TRUE(shared.isEmpty());
}

TEST(VantrelClientConnectionCache, HostNameAndAddressShareOneConnection) {
    ScopedFakeResolver resolver;
    resolver.add("studio", {"10.9.8.7"});
    DebugLog log;
    ClientScope client;
    VantrelClientConnection::Shared byName, byAddress, other;
    byName.acquire(VantrelServerId("studio:7549"));
    byAddress.acquire(VantrelServerId("10.9.8.7:7549"));
    other.acquire(VantrelServerId("10.9.8.7:7600"));

    EXPECT_EQ(byName.get(), byAddress.get());
    EXPECT_NE(byName.get(), other.get());
    EXPECT_EQ(2, VantrelClientConnection::cachedConnectionCount());
    EXPECT_EQ(2, log.count("Creating shared connection"));
    EXPECT_EQ(1, log.count("' to 'studio:7549' (1)"));
    EXPECT_EQ(1, log.count("' to 'studio:7549' (2)"));

    byAddress.release();
    EXPECT_EQ(1, log.count("Unreferencing shared connection"));
    EXPECT_TRUE(log.contains("' to 'studio:7549' (1)"));
    EXPECT_EQ(0, log.count("Releasing shared connection")) << "stays cached";
}

TEST(VantrelClientConnectionCache, FullCacheGivesAClearError) {
    ClientScope client("1");
    VantrelClientConnection::Shared first, second;
    first.acquire(VantrelServerId("10.0.0.1:7549"));
    try {
        second.acquire(VantrelServerId("10.0.0.2:7549"));
        FAIL() << "a second server got the only slot";
    } catch (const Vantrel::CoException& e) {
        EXPECT_STREQ(
            "No free shared connection slot: all 1 are in use (see VANTREL_SHARED_CONNECTIONS).",
            e.what());
    }
    EXPECT_TRUE(second.isEmpty());
    // Once the slot is free, the other server recycles it.
    first.release();
    second.acquire(VantrelServerId("10.0.0.2:7549"));
    EXPECT_FALSE(second.isEmpty());
    EXPECT_EQ(1, VantrelClientConnection::cachedConnectionCount());
}

TEST(VantrelClientConnectionCache, IdleConnectionIsReusedThenAgedOut) {
    DebugLog log;
    ClientScope client("1");  // one slot, one second of idle time
    const VantrelServerId id("10.0.0.1:7549");
    VantrelClientConnection* first = nullptr;
    {
        VantrelClientConnection::Shared shared;
        shared.acquire(id);
        first = shared.get();
    }
    VantrelClientConnection::releaseUnused(false);  // not idle long enough yet
    {
        VantrelClientConnection::Shared shared;
        shared.acquire(id);
        EXPECT_EQ(first, shared.get());
    }
    EXPECT_EQ(1, log.count("Creating shared connection"));

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    VantrelClientConnection::releaseUnused(false);
    EXPECT_EQ(0, VantrelClientConnection::cachedConnectionCount());
    EXPECT_EQ(1, log.count("Releasing shared connection"));
}

TEST(VantrelClientConnectionCache, ZeroIdleTimeDropsAnIdleEntryAtTheNextScan) {
    ClientScope client("0");
    VantrelClientConnection::Shared shared;
    shared.acquire(VantrelServerId("10.0.0.1:7549"));
    VantrelClientConnection::releaseUnused(false);
    EXPECT_EQ(1, VantrelClientConnection::cachedConnectionCount()) << "in use: kept";
    shared.release();
    VantrelClientConnection::releaseUnused(false);
    EXPECT_EQ(0, VantrelClientConnection::cachedConnectionCount());
}

TEST(VantrelClientConnectionCache, ReleaseAllDropsOnlyUnusedConnections) {
    DebugLog log;
    ClientScope client;
    VantrelClientConnection::Shared used, unused;
    used.acquire(VantrelServerId("10.0.0.1:7549"));
    unused.acquire(VantrelServerId("10.0.0.2:7549"));
    unused.release();
    VantrelClientConnection::releaseUnused(true);
    EXPECT_EQ(1, VantrelClientConnection::cachedConnectionCount());
    EXPECT_EQ(1, log.count("Releasing shared connection"));
    EXPECT_EQ(1, log.count("Releasing shared connection", "to '10.0.0.2:7549'"));
}

}  // namespace
