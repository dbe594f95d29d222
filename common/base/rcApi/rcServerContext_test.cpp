#include "rcApi/rcServerContext.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "rcApi/rcAPI.h"
#include "rcApi/rcTestSupport.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using testing::loginLine;
using testing::LoopThread;
using testing::PeerSocket;
using testing::requestLine;
using testing::TestServer;

class ServerContext : public testing::ServerFixture {};

TEST_F(ServerContext, AnswersPingAfterLoginWithOkAndASpace) {
    PeerSocket client = loggedIn();
    ASSERT_TRUE(client.send("sync 0 _ping \n"));
    EXPECT_EQ("ok \n", client.readLine());
    ASSERT_TRUE(client.send("sync 0 Add 40 2\n"));
    EXPECT_EQ("ok 42\n", client.readLine());
    EXPECT_TRUE(capture.contains("Connection ["));  // the login is logged
}

TEST_F(ServerContext, AnswersAFirstRequestThatIsNotALoginThenDisconnects) {
    PeerSocket client = PeerSocket::connectTo(server.getPort());
    ASSERT_TRUE(client.send("sync 0 _ping \n"));
    EXPECT_EQ("ok \n", client.readLine());
    EXPECT_TRUE(client.closedByPeer());
}

TEST_F(ServerContext, RefusesALoginWithAWrongChecksumAndDisconnects) {
    rcConnectionInfo record;
    record.fillInfo(nullptr);
    rcAttrStream tampered(record.toAttrStream());
    tampered.addStringValue("StrIpAddr", "10.1.2.3");
    PeerSocket client = PeerSocket::connectTo(server.getPort());
    ASSERT_TRUE(client.send(requestLine("sync", 0, "_login", tampered.getStream())));
    EXPECT_EQ("error Authentication failed for client's login information\n", client.readLine());
    EXPECT_TRUE(client.closedByPeer());
}

TEST_F(ServerContext, ReportsUnknownMethodsAndObjectsOnlyToSynchronousRequests) {
    PeerSocket client = loggedIn();
    ASSERT_TRUE(client.send("async 0 Nope \nsync 0 Nope x\nsync 7 Echo hi\n"));
    EXPECT_EQ("error Unknown method: Nope\n", client.readLine());
    EXPECT_EQ("error Invalid Object: 7\n", client.readLine());

    static char name[] = "reel-7";
    EXPECT_TRUE(server.registerObject(7, name));
    ASSERT_TRUE(client.send("sync 7 Whoami \nsync 0 Whoami \n"));
    EXPECT_EQ("ok reel-7\n", client.readLine());
    EXPECT_EQ("ok nobody\n", client.readLine());
    EXPECT_TRUE(server.unregisterObject(7));
    EXPECT_FALSE(server.unregisterObject(7));
}

TEST_F(ServerContext, AnswersPipelinedRequestsInOrderAndAsyncOnesNever) {
    PeerSocket client = loggedIn();
    ASSERT_TRUE(client.send("sync 0 Add 1 2\nasync 0 Count \nsync 0 Echo a\\tb c\n"
                            "sync 0 Fail \nsync 0 Throw \nasync 0 Fail \nsync 0 _ping \n"));
    EXPECT_EQ("ok 3\n", client.readLine());
    EXPECT_EQ("ok a\\tb c\n", client.readLine());
    EXPECT_EQ("error no such clip\n", client.readLine());
    EXPECT_EQ("error disk full\n", client.readLine());
    EXPECT_EQ("ok \n", client.readLine());
    EXPECT_EQ(1, server.calls.load());
}

TEST_F(ServerContext, DelayedMethodIsAnsweredOnceByReturnFromDelayedCommand) {
    PeerSocket client = loggedIn();
    ASSERT_TRUE(client.send("sync 0 Later \n"));
    ASSERT_TRUE(testing::eventually([&] { return server.waitingClient != 0; }));
    EXPECT_TRUE(client.silentFor(100));

    const unsigned int id = server.waitingClient;
    loop->runOnLoop([&] {
        EXPECT_TRUE(server.isIdValid(id));
        server.returnFromDelayedCommand(id, true, "done\tnow");
        server.returnFromDelayedCommand(id, false, "again");
        server.returnFromDelayedCommand(id + 1000, true, "nobody");
    });
    EXPECT_EQ("ok done\\tnow\n", client.readLine());
    EXPECT_TRUE(client.silentFor(100));
    EXPECT_TRUE(capture.contains("Trying to do a delayed return for a client that isn't waiting for it."));
}

TEST_F(ServerContext, LoginHookCanRefuseAClient) {
    server.acceptLogins = false;
    PeerSocket client = PeerSocket::connectTo(server.getPort());
    ASSERT_TRUE(client.send(loginLine()));
    EXPECT_EQ("error Authentication failed\n", client.readLine());
    EXPECT_TRUE(client.closedByPeer());
    std::string user;
    loop->runOnLoop([&] { user = server.lastLogin; });
    EXPECT_FALSE(user.empty());
}

// A peer that streams bytes without a line feed is cut off at the line limit, without the
// server holding more than that, while another client is served.
TEST_F(ServerContext, LineWithoutEndIsCutOffWhileOthersAreServed) {
    const size_t baseline = testing::residentBytes();
    PeerSocket hostile = PeerSocket::connectTo(server.getPort());
    ASSERT_TRUE(hostile.send(loginLine()));
    ASSERT_EQ("ok \n", hostile.readLine());
    ASSERT_TRUE(hostile.send("sync 0 Echo "));

    rcAPI other;
    ASSERT_TRUE(other.connect("127.0.0.1", server.getPort(), 5000)) << other.lastError();

    const size_t gigabyte = size_t{1} << 30;
    const std::vector<char> chunk(1 << 20, 'x');
    size_t sent = 0, peak = 0, pings = 0;
    std::string reply;
    while (sent < gigabyte && hostile.send(chunk.data(), chunk.size())) {
        sent += chunk.size();
        peak = std::max(peak, testing::residentBytes());
        if (sent % (8 << 20) == 0) pings += other.call(0, "_ping", "", true, reply, 5000);
    }
    EXPECT_LT(sent, gigabyte) << "the server must drop the connection";
    EXPECT_GE(sent, CoIoTcpDescriptor::MAX_LINE_LENGTH / 2);
    EXPECT_GT(pings, 0u);
    EXPECT_LT(peak - std::min(peak, baseline), testing::lineCapMemoryBound());

    EXPECT_TRUE(other.call(0, "Echo", "still here", true, reply, 5000)) << reply;
    EXPECT_EQ("still here", reply);
    size_t held = 0;
    loop->runOnLoop([&] { held = server.requestBufferBytes(); });
    EXPECT_LT(held, CoIoTcpDescriptor::MAX_LINE_LENGTH / 8) << "the cut-off client's parser is freed";
    EXPECT_TRUE(capture.contains("Request line longer than"));
}

// Ends a death test's child: exit code 0 without a reason, else 1 with the reason on the error
// output.
[[noreturn]] void quit(const char* reason) {
    if (reason != nullptr) std::fprintf(stderr, "%s\n", reason);
    std::fflush(stderr);
    _exit(reason == nullptr ? 0 : 1);
}

// Serves the first connection a fresh process accepts: the connection is accepted before the
// peer's login record is made, so the server's record for it is the first of the process. Its
// delayed request must be reachable by the id the method saw.
[[noreturn]] void serveTheFirstClientOfTheProcess() {
    TestServer server;
    LoopThread loop(server);
    PeerSocket client = PeerSocket::connectTo(server.getPort());
    size_t accepted = 0;
    const bool seen = testing::eventually([&] {
        loop.runOnLoop([&] { accepted = server.openClientCount(); });
        return accepted == 1;
    }, 5);
    if (!seen) quit("the connection was not accepted");
    if (!client.send(loginLine()) || client.readLine() != "ok \n") quit("the login failed");
    if (!client.send("sync 0 Later \n")) quit("the request could not be sent");
    if (!testing::eventually([&] { return server.waitingClient != 0; }, 5))
        quit("the delayed method saw client id 0, which means no client");
    const unsigned int id = server.waitingClient;
    loop.runOnLoop([&] { server.returnFromDelayedCommand(id, true, "done"); });
    if (client.readLine() != "ok done\n") quit("the delayed reply did not arrive");
    quit(nullptr);
}

// The first record a process makes has serial 0, and 0 is the id of "no client". Run in a
// process of its own (a death test re-runs this test alone), where the order is certain.
TEST(ServerContextClientIdsDeathTest, TheFirstClientOfAProcessGetsAnIdOtherThanNone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(serveTheFirstClientOfTheProcess(), ::testing::ExitedWithCode(0), "");
}

TEST(ServerContextSetUp, RegistrationConflictsAreRefused) {
    testing::MessageCapture capture;
    TestServer server;
    EXPECT_FALSE(server.registerObject(0, &server));
    EXPECT_TRUE(server.registerObject(3, &server));
    EXPECT_FALSE(server.registerObject(3, &server));
    const rcMethod::Function succeed = [](void*, const rcMethod&, const rcParam::Array&,
                                          rcParam&) { return true; };
    EXPECT_FALSE(server.registerMethod(rcMethod(server, "_ping", succeed, rcParamVoid::TYPE, nullptr)));
    EXPECT_EQ((std::vector<std::string>{"Reserved object Id", "Object '3' already registered",
                                        "Method '_ping' already registered"}),
              capture.texts());
}

TEST(ServerContextSetUp, APortInUseLeavesTheContextNotValid) {
    testing::MessageCapture capture;
    TestServer first;
    rcServerContext second(first.getPort());
    EXPECT_FALSE(second.isValid());
    EXPECT_EQ(0u, second.getNbHandlers());
    ASSERT_EQ(1u, capture.texts().size());
    EXPECT_EQ(0u, capture.texts()[0].find("Unable to set-up port " + std::to_string(first.getPort()) +
                                          " to accept connections: "));
}

TEST(ServerContextSetUp, ListensOnTheAddressItIsGiven) {
    testing::MessageCapture capture;
    rcServerContext fixed(-1, "127.0.0.1");
    rcServerContext inRange(49152, -1, "::1");
    std::string address;
    ASSERT_TRUE(fixed.isValid());
    fixed.descriptor()->getSocketIP(address);
    EXPECT_EQ("127.0.0.1", address);
    ASSERT_TRUE(inRange.isValid());
    inRange.descriptor()->getSocketIP(address);
    EXPECT_EQ("::1", address);

    rcServerContext elsewhere(-1, "192.0.2.1");  // not an address of this host
    EXPECT_FALSE(elsewhere.isValid());
    EXPECT_EQ((std::vector<std::string>{
                  "Unable to set-up port -1 to accept connections: Cannot assign requested address"}),
              capture.texts());
}

}  // namespace
}  // namespace Vantrel
