// Server discovery end to end: the client library finds real vantreld processes running on
// other "hosts", network namespaces joined to the test's own namespace by veth pairs. Run
// inside the private network namespace (scripts/in-netns.sh), as root there: each test makes
// its namespaces and links and removes them.
#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NamespaceHost.h"
#include "ServerHandleTestSupport.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/client/connection/VantrelDaemonInfo.h"
#include "vantrel/client/discovery/VantrelMulticastClient.h"

namespace {

using client_testing::TempDir;
using vantreld::testing::NamespaceHost;
using vantreld::testing::VantreldProcess;

// This test process runs in a network namespace of its own (made before any thread starts),
// so that the links and addresses its tests add are seen by no other test running at the same
// time. Its discovery group port is given to the library through the network configuration
// before anything reads it, and to every server with --udp-port.
struct GroupPort {
    GroupPort() : port(isolate()) {
        char pattern[] = "/tmp/vantrel-discovery-cfg-XXXXXX";
        const int fd = ::mkstemp(pattern);
        file = pattern;
        const std::string text = "[SelfDiscovery]\nPort = " + std::to_string(port) + "\n";
        if (fd >= 0 && ::write(fd, text.data(), text.size()) > 0) ::close(fd);
        ::setenv("VANTREL_NETWORK_CFG", file.c_str(), 1);
    }
    ~GroupPort() { std::remove(file.c_str()); }

    static int isolate() {
        if (::unshare(CLONE_NEWNET) == 0) {
            vantreld::testing::runQuietly("ip link set lo up");
            vantreld::testing::runQuietly("ip link set lo multicast on");
            vantreld::testing::runQuietly("ip route add 224.0.0.0/4 dev lo");
        }
        return client_testing::freeLoopbackPort();
    }
    int port;
    std::string file;
};
const GroupPort groupPort;

// vantreld on a host, listening on every address, on a tree that outlives it.
class HostServer {
public:
    HostServer(const NamespaceHost& host, const std::string& tree, const std::string& config = "") {
        std::vector<std::string> args{"--listen", "0.0.0.0", "--port", "0", "--no-sync",
                                      "--udp-port", std::to_string(groupPort.port)};
        if (!config.empty()) args.insert(args.end(), {"--config", config});
        args.push_back(tree);
        process_.reset(new VantreldProcess(args, host.launcher()));
        port_ = process_->waitUntilReady();
    }
    int port() const { return port_; }
    // SIGTERM: a clean stop, which announces the removal.
    void stop() { end(SIGTERM); }
    // SIGKILL: gone without a word.
    void kill() { end(SIGKILL); }

private:
    void end(int signal) {
        process_->kill(signal);
        process_->waitForExit(5000);
    }
    std::unique_ptr<VantreldProcess> process_;
    int port_ = -1;
};

// Polls `condition` for up to `seconds`.
bool eventually(const std::function<bool()>& condition, int seconds = 10) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

std::vector<VantrelDaemonInfo> listed(const char* database = "") {
    VantrelServerList list(database);
    int count = 0;
    std::vector<VantrelDaemonInfo> servers;
    if (!list.getNumNodes(count)) return servers;
    for (int i = 0; i < count; ++i) {
        VantrelServerInfo info;
        if (list.getNode(i, info)) servers.push_back(info.getDaemonInfo());
    }
    return servers;
}

// The listed server whose first address is `address`; an empty record when none.
VantrelDaemonInfo listedAt(const std::string& address) {
    for (const VantrelDaemonInfo& server : listed())
        if (address == server.getIPAddr(0)) return server;
    return VantrelDaemonInfo();
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(hostA_.ok() && hostB_.ok()) << "cannot make network namespaces";
        ASSERT_TRUE(client_.initialized());
    }

    vantrel_testing::DebugLog log_;
    NamespaceHost hostA_{'a'}, hostB_{'b'};
    TempDir dir_;
    vantrel_testing::ClientScope client_;
};

TEST_F(DiscoveryTest, FindsServersOnTwoHostsAndFiltersByDatabase) {
    std::ofstream(dir_ / "other.cfg") << "[Server]\nDatabase = OTHER\n";
    HostServer a(hostA_, dir_ / "a");
    HostServer b(hostB_, dir_ / "b", dir_ / "other.cfg");
    ASSERT_GT(a.port(), 0);
    ASSERT_GT(b.port(), 0);

    // The first search returns with the first server that answers; the other follows.
    ASSERT_TRUE(eventually([&] { return listed().size() == 2; }));
    const VantrelDaemonInfo atA = listedAt(hostA_.address());
    EXPECT_EQ(a.port(), atA.getNodePort());
    EXPECT_STREQ("QLXFS", atA.getDatabase());
    EXPECT_STREQ("", atA.getIPAddr(1)) << "only the address another host reaches";

    const std::vector<VantrelDaemonInfo> other = listed("OTHER");
    ASSERT_EQ(1u, other.size());
    EXPECT_EQ(hostB_.address(), other[0].getIPAddr(0));
    EXPECT_EQ(b.port(), other[0].getNodePort());

    // The record as the server itself states it: its reachable address, no loopback.
    VantrelServerHandle byAddress((hostA_.address() + ":" + std::to_string(a.port())).c_str());
    VantrelServerInfo info;
    ASSERT_TRUE(byAddress.getInfo(info)) << byAddress.lastError();
    EXPECT_EQ(hostA_.address(), info.getDaemonInfo().getIPAddr(0));
    EXPECT_STREQ("", info.getDaemonInfo().getIPAddr(1));

    // A handle naming only a database reaches a server of that kind.
    VantrelServerId byDatabase;
    byDatabase.setDB("OTHER");
    VantrelServerHandle ofKind(byDatabase);
    ASSERT_TRUE(ofKind.getInfo(info)) << ofKind.lastError();
    EXPECT_STREQ("OTHER", info.getDatabase());
}

TEST_F(DiscoveryTest, AHandleNamedByStorageIdConnectsThroughDiscovery) {
    HostServer a(hostA_, dir_ / "a");
    HostServer b(hostB_, dir_ / "b");
    ASSERT_TRUE(eventually([&] { return listed().size() == 2; }));
    const std::string storageId = listedAt(hostB_.address()).getStorageId();
    ASSERT_FALSE(storageId.empty());

    VantrelServerList list;
    VantrelServerId id;
    ASSERT_TRUE(list.resolveStorageId(storageId.c_str(), id)) << list.lastError();
    EXPECT_EQ(hostB_.address(), id.getIPAddr());

    VantrelServerId byStorageId;
    byStorageId.setStorageId(storageId.c_str());
    VantrelServerHandle handle(byStorageId);
    VantrelNodeHandle root;
    ASSERT_TRUE(handle.getRootNode(root)) << handle.lastError();
    VantrelServerInfo info;
    ASSERT_TRUE(handle.getInfo(info)) << handle.lastError();
    EXPECT_EQ(storageId, info.getStorageId());

    VantrelServerId unknown;
    unknown.setStorageId("no-such-server");
    VantrelServerInfo none;
    EXPECT_FALSE(list.resolve(unknown, none));
    EXPECT_STREQ("Server not found", list.lastError());
}

TEST_F(DiscoveryTest, AnAddressAndPortStillConnectDirectly) {
    HostServer a(hostA_, dir_ / "a");
    ASSERT_TRUE(eventually([&] { return listed().size() == 1; }));
    // A server discovery never heard of.
    client_testing::TestServer silent({"--no-discovery"});
    VantrelServerHandle handle(silent.id().c_str());
    VantrelNodeHandle root;
    EXPECT_TRUE(handle.getRootNode(root)) << handle.lastError();
}

// The three notifications of connecting: a server that answers a connection but is not listed
// is asked for its record; one whose addresses all fail is dropped from the list.
TEST_F(DiscoveryTest, ConnectionsTellDiscoveryWhoAnswersAndWhoDoesNot) {
    HostServer a(hostA_, dir_ / "a");
    ASSERT_TRUE(eventually([&] { return listed().size() == 1; }));
    const VantrelDaemonInfo record = listed()[0];
    VantrelMulticastClient::existingInstance()->servers().removeSame(record);
    ASSERT_TRUE(listed().empty());

    const std::string address = hostA_.address() + ":" + std::to_string(a.port());
    VantrelServerHandle byAddress(address.c_str());
    VantrelNodeHandle root;
    ASSERT_TRUE(byAddress.getRootNode(root)) << byAddress.lastError();
    EXPECT_TRUE(eventually([&] { return listed().size() == 1; }));

    a.kill();
    VantrelServerId byStorageId;
    byStorageId.setStorageId(record.getStorageId());
    VantrelServerHandle gone(byStorageId);
    EXPECT_FALSE(gone.getRootNode(root));
    EXPECT_TRUE(listed().empty());
}

// An announcement from another address does not move a listed server while it is live; once
// its old address stops answering, the server is listed at its new address.
TEST_F(DiscoveryTest, AServerThatMovesIsUpdatedOnceItsOldAddressFails) {
    std::ofstream(dir_ / "resync.cfg") << "[SelfDiscovery]\nResyncTime = 1\n";
    std::unique_ptr<HostServer> server(new HostServer(hostA_, dir_ / "tree", dir_ / "resync.cfg"));
    ASSERT_TRUE(eventually([&] { return listed().size() == 1; }));
    const std::string storageId = listed()[0].getStorageId();
    server->kill();
    // The same tree, another host.
    server.reset(new HostServer(hostB_, dir_ / "tree", dir_ / "resync.cfg"));
    VantrelServerId byStorageId;
    byStorageId.setStorageId(storageId.c_str());
    EXPECT_TRUE(eventually([&] {
        VantrelNodeHandle root;
        VantrelServerHandle(byStorageId).getRootNode(root);  // fails while the old address is listed
        const std::vector<VantrelDaemonInfo> servers = listed();
        return servers.size() == 1 && hostB_.address() == servers[0].getIPAddr(0);
    }, 20));
    ASSERT_EQ(1u, listed().size());
    EXPECT_EQ(storageId, listed()[0].getStorageId());
}

TEST_F(DiscoveryTest, RemovedAtOnceOnACleanStopAndDroppedWhenSilent) {
    // The servers announce every second. The client first drops servers only after 20 s of
    // silence, so a removal seen within 15 s of the stop was the announced one, however slow
    // the machine; then it drops them after 2 s, so the killed server goes at the next sweep.
    VantrelMulticastClient::setResyncSeconds(10);
    std::ofstream(dir_ / "resync.cfg") << "[SelfDiscovery]\nResyncTime = 1\n";
    HostServer a(hostA_, dir_ / "a", dir_ / "resync.cfg");
    HostServer b(hostB_, dir_ / "b", dir_ / "resync.cfg");
    ASSERT_TRUE(eventually([&] { return listed().size() == 2; }));

    a.stop();
    EXPECT_TRUE(eventually([&] { return listedAt(hostA_.address()).getNodePort() == 0; }, 15));
    EXPECT_EQ(b.port(), listedAt(hostB_.address()).getNodePort());

    VantrelMulticastClient::setResyncSeconds(1);
    b.kill();
    EXPECT_TRUE(eventually([&] { return listed().empty(); }, 20));
    VantrelMulticastClient::setResyncSeconds(300);
}

TEST_F(DiscoveryTest, FollowsAnInterfaceThatGoesDownAndComesUp) {
    HostServer a(hostA_, dir_ / "a");
    ASSERT_TRUE(eventually([&] { return listed().size() == 1; }));
    const std::string link = "'" + hostA_.link() + "'";

    ASSERT_TRUE(hostA_.setLink(false));
    EXPECT_TRUE(eventually([&] { return log_.count("drop multicasting on " + link) == 1; }));
    ASSERT_TRUE(hostA_.setLink(true));
    EXPECT_TRUE(eventually([&] { return log_.count("start multicasting on " + link) == 2; }));
    VantrelServerList().refresh();
    EXPECT_TRUE(eventually([&] { return listedAt(hostA_.address()).getNodePort() == a.port(); }));
}

}  // namespace
