// The serving side against peers that misbehave: clients that do not read their replies, send
// huge requests, never log in, arrive in bursts, exhaust the descriptors, or are not allowed.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rcApi/rcAPI.h"
#include "rcApi/rcServerContext.h"
#include "rcApi/rcTestSupport.h"
#include "tcp/TcpTestSupport.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using testing::eventually;
using testing::loginLine;
using testing::LoopThread;
using testing::PeerSocket;
using testing::TestServer;

class ServerLimits : public testing::ServerFixture {
protected:
    // A second, well-behaved client answers `count` pings, each within `timeoutMs`.
    int pingsAnswered(rcAPI& client, int count, unsigned int timeoutMs = 3000) {
        std::string reply;
        int answered = 0;
        for (int i = 0; i < count; ++i) answered += client.call(0, "_ping", "", true, reply, timeoutMs);
        return answered;
    }

};

// Pipelines requests until its own sends block, and never reads a reply.
void stallWithPipelinedRequests(PeerSocket& client, const std::string& request) {
    fcntl(client.fd(), F_SETFL, fcntl(client.fd(), F_GETFL) | O_NONBLOCK);
    int blockedPasses = 0;
    while (blockedPasses < 50) {
        const ssize_t n = ::send(client.fd(), request.data(), request.size(), MSG_NOSIGNAL);
        if (n > 0) {
            blockedPasses = 0;
            continue;
        }
        ++blockedPasses;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A client that does not read its replies neither stalls the others nor stays forever: its
// requests wait while its queue is full, and it is dropped when the queue does not drain.
TEST_F(ServerLimits, AClientThatDoesNotReadIsDroppedWhileOthersAreServed) {
    loop->runOnLoop([&] { server.setDrainTimeout(2000); });
    rcAPI other;
    ASSERT_TRUE(other.connect("127.0.0.1", server.getPort(), 5000)) << other.lastError();

    PeerSocket stalled = loggedIn();
    const std::string request = "sync 0 Echo " + std::string(4000, 'r') + "\n";
    stallWithPipelinedRequests(stalled, request);

    size_t queued = 0;
    loop->runOnLoop([&] { queued = server.requestBufferBytes(); });
    EXPECT_GT(queued, rcServerContext::DEFAULT_REPLY_QUEUE_LIMIT);
    EXPECT_LT(queued, 4 * rcServerContext::DEFAULT_REPLY_QUEUE_LIMIT) << "reading stops at the limit";
    EXPECT_EQ(10, pingsAnswered(other, 10));

    EXPECT_TRUE(eventually([&] { return capture.contains("reply bytes not taken within 2000 ms"); }, 20));
    EXPECT_TRUE(stalled.closedByPeer(20000));
    EXPECT_EQ(5, pingsAnswered(other, 5));
}

// A client that reads slowly gets every reply, in order, although the server stopped reading
// its requests for a while.
TEST_F(ServerLimits, RequestsHeldBackByAFullQueueAreServedInOrderOnceItDrains) {
    PeerSocket slow = loggedIn();
    const int count = 2000;
    std::string burst;
    for (int i = 0; i < count; ++i) burst += "sync 0 Echo " + std::to_string(i) + std::string(2000, '.') + "\n";
    std::thread sender([&] { slow.send(burst); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int inOrder = 0;
    for (int i = 0; i < count; ++i)
        inOrder += slow.readLine() == "ok " + std::to_string(i) + std::string(2000, '.') + "\n";
    sender.join();
    EXPECT_EQ(count, inOrder);
}

// After each request a connection gives its large buffers back: ten connections that each
// sent one large request hold about nothing once answered, not ten times the request.
TEST_F(ServerLimits, AConnectionGivesBackLargeBuffersAfterEachRequest) {
    const size_t requestBytes = 6 << 20;
    std::vector<PeerSocket> clients;
    for (int i = 0; i < 10; ++i) clients.push_back(loggedIn());
    for (PeerSocket& client : clients) {
        ASSERT_TRUE(client.send("sync 0 Echo " + std::string(requestBytes, 'x') + "\n"));
        EXPECT_EQ(requestBytes + 4, client.readLine(20000).size());
    }
    size_t held = 0;
    loop->runOnLoop([&] { held = server.requestBufferBytes(); });
    EXPECT_LE(held, clients.size() * 3 * rcServerContext::BUFFER_KEEP_BYTES);
}

TEST_F(ServerLimits, AConnectionWithoutLoginIsClosedAfterTheLoginTime) {
    loop->runOnLoop([&] { server.setLoginTimeout(300); });
    PeerSocket silent = PeerSocket::connectTo(server.getPort());
    PeerSocket loggedInClient = loggedIn();
    EXPECT_TRUE(silent.closedByPeer(10000));
    EXPECT_TRUE(capture.contains("no login within 300 ms. Connection closed."));
    ASSERT_TRUE(loggedInClient.send("sync 0 _ping \n"));
    EXPECT_EQ("ok \n", loggedInClient.readLine());
}

TEST_F(ServerLimits, ALoggedInConnectionThatStaysSilentIsClosedAfterTheIdleTime) {
    loop->runOnLoop([&] { server.setIdleTimeout(300); });
    PeerSocket idle = loggedIn();
    EXPECT_TRUE(idle.closedByPeer(10000));
    EXPECT_TRUE(capture.contains("silent for 300 ms. Connection closed."));
}

// Request lines are held to their limits, a lower one before the login.
TEST_F(ServerLimits, RequestLinesAreHeldToTheLimitsBeforeAndAfterTheLogin) {
    loop->runOnLoop([&] { server.setRequestLineLimits(1000, 3000); });
    const std::string longArgs(2000, 'a');
    PeerSocket early = PeerSocket::connectTo(server.getPort());
    ASSERT_TRUE(early.send("sync 0 _login " + longArgs));  // no line end needed
    EXPECT_EQ("error Request line longer than 1000 bytes.\n", early.readLine());
    EXPECT_TRUE(early.closedByPeer());

    PeerSocket client = loggedIn();
    ASSERT_TRUE(client.send("sync 0 _ping " + longArgs + "\n"));
    EXPECT_EQ("ok \n", client.readLine());
    ASSERT_TRUE(client.send("sync 0 _ping " + longArgs + longArgs));
    EXPECT_EQ("error Request line longer than 3000 bytes.\n", client.readLine());
    EXPECT_TRUE(client.closedByPeer());
}

// Before a login: by default the first request runs (then the connection closes); with the
// login required only "_ping" runs and any other request is refused.
TEST_F(ServerLimits, TheLoginRequirementDecidesWhatRunsBeforeALogin) {
    struct Case {
        bool required;
        const char* request;
        const char* reply;
        int calls;
    };
    const Case cases[] = {
        {false, "sync 0 Count \n", "ok \n", 1},
        {false, "sync 0 _ping \n", "ok \n", 0},
        {true, "sync 0 Count \n", "error Not logged in\n", 0},
        {true, "sync 0 Nope \n", "error Not logged in\n", 0},
        {true, "sync 0 _ping \n", "ok \n", 0},
    };
    for (const Case& c : cases) {
        loop->runOnLoop([&] { server.setLoginRequired(c.required); });
        server.calls = 0;
        PeerSocket client = PeerSocket::connectTo(server.getPort());
        ASSERT_TRUE(client.send(c.request));
        EXPECT_EQ(c.reply, client.readLine()) << c.request << c.required;
        EXPECT_TRUE(client.closedByPeer());
        EXPECT_EQ(c.calls, server.calls.load()) << c.request << c.required;
    }
    loop->runOnLoop([&] { server.setLoginRequired(true); });
    PeerSocket client = loggedIn();
    ASSERT_TRUE(client.send("sync 0 Count \n"));
    EXPECT_EQ("ok \n", client.readLine());
}

TEST_F(ServerLimits, TheConnectionFilterClosesPeersItRefuses) {
    std::vector<std::string> asked;
    loop->runOnLoop([&] {
        server.setConnectionFilter([&](const std::string& peer) {
            asked.push_back(peer);
            return false;
        });
    });
    PeerSocket refused = PeerSocket::connectTo(server.getPort());
    ASSERT_TRUE(refused.send(loginLine()));
    EXPECT_TRUE(refused.closedByPeer());
    EXPECT_TRUE(capture.contains("Connection from 127.0.0.1 refused: address not allowed."));

    loop->runOnLoop([&] { server.setConnectionFilter([](const std::string&) { return true; }); });
    PeerSocket allowed = loggedIn();
    loop->runOnLoop([&] { EXPECT_EQ(std::vector<std::string>{"127.0.0.1"}, asked); });
}

// Running out of descriptors leaves the server accepting once descriptors are free again.
TEST_F(ServerLimits, RunningOutOfDescriptorsDoesNotStopAccepting) {
    if (!testing::DescriptorCeiling::usableHere())
        GTEST_SKIP() << "the sanitizers need descriptors of their own";
    std::vector<int> sockets;
    for (int i = 0; i < 40; ++i) sockets.push_back(::socket(AF_INET, SOCK_STREAM, 0));
    {
        testing::DescriptorCeiling ceiling(4);
        for (int fd : sockets) {
            const sockaddr_in address = PeerSocket::loopback(server.getPort());
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        EXPECT_TRUE(eventually([&] { return capture.contains("Too many open files"); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    for (int fd : sockets) ::close(fd);

    rcAPI client;
    EXPECT_TRUE(client.connect("127.0.0.1", server.getPort(), 5000)) << client.lastError();
    EXPECT_EQ(3, pingsAnswered(client, 3));
}

// A burst of clients is queued by the system while the loop is busy, not turned away.
TEST(ServerBacklog, ABurstOfClientsAllConnectBeforeTheFirstIsAccepted) {
    TestServer server;
    ASSERT_TRUE(server.isValid());
    std::vector<PeerSocket> clients;
    for (int i = 0; i < 30; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const sockaddr_in address = PeerSocket::loopback(server.getPort());
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        clients.emplace_back(fd);
    }
    int connected = 0;
    for (PeerSocket& client : clients) {
        pollfd watched{client.fd(), POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        connected += ::poll(&watched, 1, 2000) == 1 &&
                     ::getsockopt(client.fd(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
                     error == 0;
    }
    EXPECT_EQ(30, connected);
}

}  // namespace
}  // namespace Vantrel
