// Shared connections against real servers: sharing, idle time, release, a full cache, and
// the failures of a link (refused, restarted server, time-out, stop from another thread).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <atomic>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ServerHandleTestSupport.h"
#include "network/CoNetworkUtil.h"
#include "osal/CoEnvSettings.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelBaseClientAPI.h"
#include "vantrel/client/connection/VantrelClientConnection.h"
#include "vantrel/client/api/VantrelServerImp.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

using client_testing::DisconnectRecorder;
using client_testing::TestServer;
using vantrel_testing::DebugLog;
using vantrel_testing::ClientScope;

constexpr unsigned PING_MS = 5000;

// Links opened to `server` so far, by the client's own log.
int connectionsTo(const DebugLog& log, const TestServer& server) {
    return log.count("Connected to server [127.0.0.1:" + std::to_string(server.port()) + "]");
}

TEST(SharedConnections, HostNameAndNumericAddressShareOneLink) {
    TestServer server;
    ASSERT_TRUE(server.running());
    DebugLog log;
    ClientScope client;
    const std::string byNameId = "localhost:" + std::to_string(server.port());
    VantrelServerHandle byName(byNameId.c_str());
    VantrelServerHandle byAddress(server.id().c_str());
    ASSERT_TRUE(byName.ping(PING_MS)) << byName.lastError();
    ASSERT_TRUE(byAddress.ping(PING_MS)) << byAddress.lastError();

    EXPECT_EQ(1, log.count("Creating shared connection"));
    EXPECT_EQ(2, log.count("Referencing shared connection"));
    EXPECT_TRUE(log.contains("' to '" + byNameId + "' (2)"));
    EXPECT_EQ(1, log.count("Connecting to server ["));
    EXPECT_TRUE(byName.isConnected());
    EXPECT_TRUE(byAddress.isConnected());

    // A copy finds the same link too.
    VantrelServerHandle copy(byAddress);
    EXPECT_TRUE(copy.ping(PING_MS)) << copy.lastError();
    EXPECT_EQ(1, log.count("Creating shared connection"));
}

TEST(SharedConnections, IdleLinkIsReusedWithinTheIdleTimeAndDroppedAfter) {
    TestServer server;
    ASSERT_TRUE(server.running());
    DebugLog log;
    ClientScope client("1");  // one slot, one second of idle time
    EXPECT_TRUE(VantrelServerHandle(server.id().c_str()).ping(PING_MS));
    EXPECT_TRUE(VantrelServerHandle(server.id().c_str()).ping(PING_MS));
    EXPECT_EQ(1, connectionsTo(log, server)) << "the idle link is reused";

    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    VantrelClientReleaseUnusedConnections(false);
    EXPECT_EQ(1, log.count("Releasing shared connection"));
    EXPECT_TRUE(VantrelServerHandle(server.id().c_str()).ping(PING_MS));
    EXPECT_EQ(2, connectionsTo(log, server));
}

TEST(SharedConnections, ReleaseAllDropsTheUnusedLinksOnly) {
    TestServer first, second;
    ASSERT_TRUE(first.running() && second.running());
    DebugLog log;
    ClientScope client;
    VantrelServerHandle held(first.id().c_str());
    ASSERT_TRUE(held.ping(PING_MS)) << held.lastError();
    EXPECT_TRUE(VantrelServerHandle(second.id().c_str()).ping(PING_MS));

    VantrelClientReleaseUnusedConnections(true);
    EXPECT_EQ(1, VantrelClientConnection::cachedConnectionCount());
    EXPECT_TRUE(held.isConnected());
    EXPECT_TRUE(held.ping(PING_MS));
    EXPECT_TRUE(VantrelServerHandle(second.id().c_str()).ping(PING_MS));
    EXPECT_EQ(1, connectionsTo(log, first));
    EXPECT_EQ(2, connectionsTo(log, second));
}

TEST(SharedConnections, AFullCacheGivesTheHandleAClearError) {
    TestServer first, second;
    ASSERT_TRUE(first.running() && second.running());
    ClientScope client("1");
    VantrelServerHandle held(first.id().c_str());
    ASSERT_TRUE(held.ping(PING_MS)) << held.lastError();
    VantrelServerHandle refused(second.id().c_str());
    EXPECT_FALSE(refused.ping(PING_MS));
    EXPECT_STREQ("No free shared connection slot: all 1 are in use (see "
                 "VANTREL_SHARED_CONNECTIONS).",
                 refused.lastError());
    EXPECT_TRUE(held.ping(PING_MS)) << "the held link is not disturbed";
}

TEST(SharedConnections, UninitClosesEveryLink) {
    TestServer server;
    ASSERT_TRUE(server.running());
    DebugLog log;
    {
        ClientScope client;
        EXPECT_TRUE(VantrelServerHandle(server.id().c_str()).ping(PING_MS));
        EXPECT_EQ(0, log.count("Releasing shared connection"));
    }
    EXPECT_EQ(1, log.count("Releasing shared connection"));
}

TEST(ConnectionFailures, RefusedConnection) {
    const int port = client_testing::freeLoopbackPort();
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle handle(("127.0.0.1:" + std::to_string(port)).c_str());
    EXPECT_FALSE(handle.ping(PING_MS));
    EXPECT_EQ(Vantrel::CoNetworkUtil::strerror(ECONNREFUSED), handle.lastError());
    EXPECT_FALSE(handle.isConnected());
    EXPECT_TRUE(disconnects.ids().empty()) << "no link was lost";
}

TEST(ConnectionFailures, RestartedServerIsReconnectedAndOnlyAFailedCallTellsTheLoss) {
    TestServer server;
    ASSERT_TRUE(server.running());
    DebugLog log;
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle handle(server.id().c_str());
    ASSERT_TRUE(handle.ping(PING_MS)) << handle.lastError();

    // Closed between calls and opened again by the next call: no call failed, nothing lost.
    ASSERT_TRUE(server.restart());
    EXPECT_TRUE(handle.ping(PING_MS)) << handle.lastError();
    EXPECT_EQ(2, connectionsTo(log, server));
    EXPECT_TRUE(disconnects.ids().empty());

    // Down when called: that call fails and leaves the link closed, and tells of the loss
    // once; the next failing call and the first call after the restart tell nothing more.
    server.kill();
    EXPECT_FALSE(handle.ping(PING_MS));
    EXPECT_EQ(Vantrel::CoNetworkUtil::strerror(ECONNREFUSED), handle.lastError());
    EXPECT_FALSE(handle.ping(PING_MS));
    ASSERT_TRUE(server.restart());
    EXPECT_TRUE(handle.ping(PING_MS)) << handle.lastError();
    EXPECT_EQ(std::vector<std::string>{server.id()}, disconnects.ids());
}

TEST(ConnectionFailures, ForcedDisconnectClosesTheLinkForEveryHandle) {
    TestServer server;
    ASSERT_TRUE(server.running());
    DebugLog log;
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle first(server.id().c_str()), second(server.id().c_str());
    ASSERT_TRUE(first.ping(PING_MS)) << first.lastError();
    first.disconnect();
    EXPECT_TRUE(log.contains("Forced disconnect"));
    EXPECT_FALSE(second.isConnected());
    EXPECT_TRUE(second.ping(PING_MS)) << second.lastError();
    EXPECT_EQ(2, connectionsTo(log, server));
    EXPECT_TRUE(disconnects.ids().empty()) << "closed on purpose: no loss";
}

// A server that logs the client in and then answers the first request with `reply` (a whole
// reply line), or never when `reply` is empty. Plain system calls: it is meant to behave
// like no server the library could build.
class ScriptedServer {
public:
    explicit ScriptedServer(std::string reply = "")
        : listener_(::socket(AF_INET, SOCK_STREAM, 0)), reply_(std::move(reply)) {
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(listener_, 4) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        done_.set_value();
        // A test that failed before connecting leaves the server waiting for a client.
        if (!accepted_) {
            const int wake = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address = loopback(port_);
            ::connect(wake, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::close(wake);
        }
        thread_.join();
        ::close(listener_);
    }
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits for the first request after the login; its line, or "" after 5 s.
    std::string awaitRequest() {
        auto future = request_.get_future();
        if (future.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return "";
        return future.get();
    }

private:
    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        return address;
    }

    void serve() {
        const int peer = ::accept(listener_, nullptr, nullptr);
        accepted_ = true;
        readLine(peer);  // the login
        ::send(peer, "ok \n", 4, MSG_NOSIGNAL);
        request_.set_value(readLine(peer));
        if (!reply_.empty()) ::send(peer, reply_.data(), reply_.size(), MSG_NOSIGNAL);
        done_.get_future().wait();
        ::close(peer);
    }

    // One line, or what came before the peer closed or 5 s passed.
    static std::string readLine(int peer) {
        std::string line;
        pollfd ready{peer, POLLIN, 0};
        char c = 0;
        while (c != '\n' && ::poll(&ready, 1, 5000) == 1 && ::recv(peer, &c, 1, 0) == 1)
            line += c;
        return line;
    }

    const int listener_;
    const std::string reply_;
    int port_ = 0;
    std::promise<std::string> request_;
    std::promise<void> done_;
    std::atomic<bool> accepted_{false};
    std::thread thread_;
};

TEST(ConnectionFailures, StopFromAnotherThreadCutsTheCallShort) {
    ScriptedServer server;
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle handle(server.id().c_str());
    auto ping = std::async(std::launch::async, [&] { return handle.ping(600000); });
    ASSERT_EQ("sync 0 Ping \n", server.awaitRequest());
    handle.stop("Stopped by the test");
    ASSERT_EQ(std::future_status::ready, ping.wait_for(std::chrono::seconds(10)));
    EXPECT_FALSE(ping.get());
    EXPECT_STREQ("Stopped by the test", handle.lastError());
    EXPECT_FALSE(handle.isConnected());
    EXPECT_EQ(std::vector<std::string>{server.id()}, disconnects.ids());
}

// Handles of one server share its link: a handle that never made a call can stop the call
// another handle has in progress.
TEST(ConnectionFailures, StopThroughAnUnusedHandleReachesTheSharedLink) {
    ScriptedServer server;
    ClientScope client;
    VantrelServerHandle calling(server.id().c_str());
    auto ping = std::async(std::launch::async, [&] { return calling.ping(600000); });
    ASSERT_EQ("sync 0 Ping \n", server.awaitRequest());
    VantrelServerHandle unused(server.id().c_str());
    unused.stop("Stopped through another handle");
    ASSERT_EQ(std::future_status::ready, ping.wait_for(std::chrono::seconds(10)));
    EXPECT_FALSE(ping.get());
    EXPECT_STREQ("Stopped through another handle", calling.lastError());
    EXPECT_STREQ("", unused.lastError());
}

// stop() may come from another thread while the handle's own thread binds it for its first
// call: both bind the one implementation, once.
TEST(ConnectionFailures, StopWhileTheHandleBindsForItsFirstCall) {
    ScriptedServer server;
    ClientScope client;
    VantrelServerHandle handle(server.id().c_str());
    auto ping = std::async(std::launch::async, [&] { return handle.ping(600000); });
    while (ping.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        handle.stop("Stopped by the test");
    EXPECT_FALSE(ping.get());
    EXPECT_STREQ("Stopped by the test", handle.lastError());
}

TEST(ConnectionFailures, TimeOutClosesTheLink) {
    ScriptedServer server;
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle handle(server.id().c_str());
    EXPECT_FALSE(handle.ping(300));
    EXPECT_EQ(Vantrel::CoNetworkUtil::strerror(ETIMEDOUT), handle.lastError());
    EXPECT_FALSE(handle.isConnected()) << "a late reply must not answer the next call";
    EXPECT_EQ(1u, disconnects.ids().size());
}

// A peer that takes connections and never says a word: it listens, and the system completes
// every connection for it, but nothing ever reads or answers.
class HungPeer {
public:
    HungPeer() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::listen(listener_, 16) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~HungPeer() { ::close(listener_); }
    HungPeer(const HungPeer&) = delete;
    HungPeer& operator=(const HungPeer&) = delete;
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    const int listener_;
    int port_ = 0;
};

using client_testing::CallCeiling;

// VANTREL_CALL_TIMEOUT_MS set in the environment for a scope, and read again as when the
// library is loaded.
class CallTimeoutVariable {
public:
    explicit CallTimeoutVariable(const char* value)
        : setting_(Vantrel::CoEnvStringSetting::find("VANTREL_CALL_TIMEOUT_MS")),
          wasSet_(Vantrel::coEnvExists("VANTREL_CALL_TIMEOUT_MS")),
          saved_(wasSet_ ? Vantrel::coGetEnv("VANTREL_CALL_TIMEOUT_MS") : "") {
        ::setenv("VANTREL_CALL_TIMEOUT_MS", value, 1);
        setting_->reload();
    }
    ~CallTimeoutVariable() {
        if (wasSet_)
            ::setenv("VANTREL_CALL_TIMEOUT_MS", saved_.c_str(), 1);
        else
            ::unsetenv("VANTREL_CALL_TIMEOUT_MS");
        setting_->reload();
    }

private:
    Vantrel::CoEnvStringSetting* setting_;
    const bool wasSet_;
    const std::string saved_;
};

const std::string TIMED_OUT = Vantrel::CoNetworkUtil::strerror(ETIMEDOUT);

// Node calls wait 100,000,000 ms by default: a server that hangs must not hold them that
// long when the application set a ceiling, whether it hangs before the login or after.
TEST(CallCeiling, NodeCallToAHungPeerFailsWithTheTimeOutText) {
    ClientScope client;
    CallCeiling ceiling(300);
    HungPeer peer;
    VantrelServerHandle handle(peer.id().c_str());
    VantrelNodeHandle root;
    EXPECT_FALSE(handle.getRootNode(root));
    EXPECT_EQ(TIMED_OUT, handle.lastError());
    EXPECT_FALSE(handle.isConnected());
    VantrelStr vendor;
    EXPECT_FALSE(handle.getVendor(vendor));
    EXPECT_EQ(TIMED_OUT, handle.lastError());
}

TEST(CallCeiling, CallsAfterTheLoginAndPingsAreBoundedToo) {
    ScriptedServer server;  // logs in, then never answers
    ClientScope client;
    CallCeiling ceiling(300);
    VantrelServerHandle handle(server.id().c_str());
    VantrelNodeHandle root;
    EXPECT_FALSE(handle.getRootNode(root));
    EXPECT_EQ(TIMED_OUT, handle.lastError());
    EXPECT_EQ("sync 0 GetRootNode \n", server.awaitRequest());

    HungPeer peer;
    VantrelServerHandle pinged(peer.id().c_str());
    EXPECT_FALSE(pinged.ping(600000));
    EXPECT_EQ(TIMED_OUT, pinged.lastError());
}

TEST(CallCeiling, EnvironmentVariableSetsTheCeiling) {
    ClientScope client;
    CallTimeoutVariable variable("300");
    EXPECT_EQ(300u, VantrelClientGetCallTimeout());
    HungPeer peer;
    VantrelServerHandle handle(peer.id().c_str());
    VantrelStr name;
    EXPECT_FALSE(handle.getDisplayName(name));  // the server's description
    EXPECT_EQ(TIMED_OUT, handle.lastError());
}

}  // namespace

namespace {

// A version reply without two numbers is a failure, not a version made of whatever the
// variables held.
TEST(ConnectionFailures, MalformedVersionReplyIsAFailure) {
    ScriptedServer server("ok 7\n");
    ClientScope client;
    VantrelServerHandle handle(server.id().c_str());
    int major = -1, minor = -1;
    VantrelBaseClientAPI* base = handle.imp()->baseClient();
    ASSERT_NE(nullptr, base);
    EXPECT_FALSE(base->queryVersion(major, minor));
    EXPECT_EQ("Invalid version reply: '7'", base->lastError());
    EXPECT_EQ("sync 0 QueryVersion \n", server.awaitRequest());
}

}  // namespace
