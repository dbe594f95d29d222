#include "rcApi/rcAPI.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "rcApi/rcTestSupport.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

using testing::LoopThread;
using testing::PeerListener;
using testing::PeerSocket;
using testing::TestServer;

const char NOT_CONNECTED[] = "Connection not established.";

std::string ioText(CoIoDescriptor::IoError kind) {
    char text[256] = {};
    CoIoDescriptor::getIoError(kind, text, sizeof text);
    return text;
}

// Calls stop("cancelled by user") every 100 ms until `call` has ended, and gives its result.
bool stopRepeatedly(rcAPI& api, std::future<bool>& call) {
    while (call.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        api.stop("cancelled by user");
    return call.get();
}

class ClientAgainstServer : public ::testing::Test {
protected:
    void SetUp() override {
        CoMsg::setFilterLevel(CoMsg::ERROR_LEVEL);
        ASSERT_TRUE(server.isValid());
        loop.reset(new LoopThread(server));
    }
    void TearDown() override { loop.reset(); }

    void connect() { ASSERT_TRUE(api.connect("127.0.0.1", server.getPort(), 5000)) << api.lastError(); }

    // Starts a call of the delayed method on another thread and waits until the server has it.
    std::future<bool> callLater(std::string& result, unsigned int timeout) {
        server.waitingClient = 0;
        std::future<bool> done = std::async(std::launch::async, [this, &result, timeout] {
            return api.call(0, "Later", "", true, result, timeout);
        });
        EXPECT_TRUE(testing::eventually([this] { return server.waitingClient != 0; }));
        return done;
    }

    TestServer server;
    std::unique_ptr<LoopThread> loop;
    rcAPI api;
};

TEST_F(ClientAgainstServer, LogsInAndCallsSynchronouslyAndAsynchronously) {
    connect();
    EXPECT_TRUE(api.isConnected());
    std::string result = "stale";
    EXPECT_TRUE(api.call(0, "_ping", "", true, result, 5000));
    EXPECT_EQ("", result);

    const std::string awkward = "line\nfeed\ttab \\back\\ \"q\" \r\\";
    EXPECT_TRUE(api.call(0, "Echo", awkward.c_str(), true, result, 5000));
    EXPECT_EQ(awkward, result);
    EXPECT_TRUE(api.call(0, "Add", "20 22", true, result, 5000));
    EXPECT_EQ("42", result);

    result = "stale";
    EXPECT_TRUE(api.call(0, "Count", nullptr, false, result, 5000));
    EXPECT_EQ("", result);
    EXPECT_TRUE(api.call(0, "_ping", "", true, result, 5000)) << "no reply of the async call in between";
    EXPECT_EQ(1, server.calls.load());
}

TEST_F(ClientAgainstServer, ErrorRepliesFailTheCallButKeepTheConnection) {
    connect();
    const struct {
        int object;
        const char* method;
        const char* text;
    } cases[] = {
        {0, "Nope", "Unknown method: Nope"},
        {9, "Echo", "Invalid Object: 9"},
        {0, "Fail", "no such clip"},
        {0, "Throw", "disk full"},
    };
    for (const auto& c : cases) {
        std::string result;
        EXPECT_FALSE(api.call(c.object, c.method, "", true, result, 5000)) << c.method;
        EXPECT_EQ(c.text, result);
        EXPECT_EQ(c.text, api.lastError());
        EXPECT_TRUE(api.isConnected());
    }
}

TEST_F(ClientAgainstServer, RefusedLoginFailsConnect) {
    server.acceptLogins = false;
    EXPECT_FALSE(api.connect("127.0.0.1", server.getPort(), 5000));
    EXPECT_EQ("Authentication failed", api.lastError());
    EXPECT_FALSE(api.isConnected());
    std::string result;
    EXPECT_FALSE(api.call(0, "_ping", "", true, result, 5000));
    EXPECT_EQ(NOT_CONNECTED, result);
}

TEST_F(ClientAgainstServer, DelayedMethodIsAnsweredLater) {
    connect();
    std::string result;
    std::future<bool> done = callLater(result, 10000);
    const unsigned int id = server.waitingClient;
    loop->runOnLoop([&] { server.returnFromDelayedCommand(id, true, "rendered"); });
    EXPECT_TRUE(done.get());
    EXPECT_EQ("rendered", result);
    EXPECT_FALSE(api.timedOut());
}

TEST_F(ClientAgainstServer, TimeoutZeroWaitsBrieflyAndKeepsTheConnection) {
    connect();
    std::string result;
    EXPECT_FALSE(api.call(0, "Later", "", true, result, 0));
    EXPECT_TRUE(api.timedOut());
    EXPECT_EQ(ioText(CoIoDescriptor::IO_ERR_TIMED_OUT), result);
    EXPECT_EQ(result, api.lastError());
    EXPECT_TRUE(api.isConnected());
}

TEST_F(ClientAgainstServer, StopFromAnotherThreadAbortsTheCallAndDropsTheConnection) {
    connect();
    std::string result;
    std::future<bool> done = callLater(result, 60000);
    api.stop(nullptr);
    ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::seconds(10)));
    EXPECT_FALSE(done.get());
    EXPECT_EQ(ioText(CoIoDescriptor::IO_ERR_CONNECTION_ABORTED), result);
    EXPECT_TRUE(api.stopped());
    EXPECT_FALSE(api.isConnected());

    EXPECT_FALSE(api.call(0, "_ping", "", true, result, 5000));
    EXPECT_EQ(NOT_CONNECTED, result);
    EXPECT_FALSE(api.stopped());
}

TEST_F(ClientAgainstServer, StopWithAReasonAndStopWhenIdle) {
    api.stop("nothing to stop");
    EXPECT_FALSE(api.stopped());
    connect();
    std::string result;
    std::future<bool> done = callLater(result, 60000);
    api.stop("user cancelled");
    EXPECT_FALSE(done.get());
    EXPECT_EQ("user cancelled", result);
}

// A scripted peer on a raw socket: answers the login, records what it receives, and then does
// what the test asks.
class ClientAgainstRawPeer : public ::testing::Test {
protected:
    void SetUp() override { CoMsg::setFilterLevel(CoMsg::ERROR_LEVEL); }
    void TearDown() override {
        if (peer.joinable()) peer.join();
    }

    void start(std::function<void(PeerSocket&)> script) {
        peer = std::thread([this, script] {
            PeerSocket socket = listener.accept();
            script(socket);
        });
    }

    PeerListener listener;
    std::thread peer;
    rcAPI api;
};

TEST_F(ClientAgainstRawPeer, SendsThePinnedRequestBytes) {
    std::promise<std::vector<std::string>> seen;
    start([&](PeerSocket& socket) {
        std::vector<std::string> lines;
        for (int i = 0; i < 4; ++i) {
            lines.push_back(socket.readLine());
            if (i < 3) socket.send("ok \n");
        }
        seen.set_value(lines);
    });
    ASSERT_TRUE(api.connect("127.0.0.1", listener.port(), 5000)) << api.lastError();
    std::string result;
    EXPECT_TRUE(api.call(0, "GetChildrenEx", "a\tb", true, result, 5000));
    EXPECT_TRUE(api.call(3, "Put", "ends in \\", true, result, 5000));
    EXPECT_TRUE(api.call(0, "Note", "", false, result, 5000));
    const std::vector<std::string> lines = seen.get_future().get();
    EXPECT_EQ(0u, lines[0].find("sync 0 _login StrUserName "));
    EXPECT_EQ("sync 0 GetChildrenEx a\\tb\n", lines[1]);
    EXPECT_EQ(26u, lines[1].size());
    EXPECT_EQ("sync 3 Put ends in \\\\\n", lines[2]);
    EXPECT_EQ("async 0 Note \n", lines[3]);
}

TEST_F(ClientAgainstRawPeer, AcceptsAServerWithoutLogin) {
    const char* answers[] = {"error Unknown method: _login\n", "error Unknown method: '_login'.\n"};
    for (const char* answer : answers) {
        start([answer](PeerSocket& socket) {
            socket.readLine();
            socket.send(answer);
            socket.readLine();
        });
        EXPECT_TRUE(api.connect("127.0.0.1", listener.port(), 5000)) << answer;
        api.disconnect();
        peer.join();
    }
}

TEST_F(ClientAgainstRawPeer, AFailureReplyWithoutAValueNamesItsStatus) {
    const struct {
        const char* reply;
        const char* text;
    } cases[] = {{"error \n", "The server answered 'error' without a reason."},
                 {"fine\n", "The server answered 'fine' without a reason."},
                 {"error No such node\n", "No such node"}};
    start([&](PeerSocket& socket) {
        socket.readLine();
        socket.send("ok \n");
        for (const auto& c : cases) {
            socket.readLine();
            socket.send(c.reply);
        }
        socket.readLine();  // until the client goes
    });
    ASSERT_TRUE(api.connect("127.0.0.1", listener.port(), 5000)) << api.lastError();
    for (const auto& c : cases) {
        std::string result;
        EXPECT_FALSE(api.call(0, "GetRootNode", "", true, result, 5000));
        EXPECT_EQ(api.lastError(), c.text);
        EXPECT_EQ(result, c.text);
        EXPECT_TRUE(api.isConnected());
    }
    api.disconnect();
}

TEST_F(ClientAgainstRawPeer, ServerClosingMidCallFailsTheCall) {
    start([](PeerSocket& socket) {
        socket.readLine();
        socket.send("ok \n");
        socket.readLine();
        socket.close();
    });
    ASSERT_TRUE(api.connect("127.0.0.1", listener.port(), 5000));
    std::string result;
    EXPECT_FALSE(api.call(0, "GetChildren", "", true, result, 5000));
    EXPECT_EQ(ioText(CoIoDescriptor::IO_ERR_CONNECTION_RESET), result);
    EXPECT_FALSE(api.isConnected());
    EXPECT_FALSE(api.timedOut());
}

// A reply that never ends is given up at the line limit, without holding more than that.
TEST_F(ClientAgainstRawPeer, ReplyWithoutEndIsCutOffAtTheLineLimit) {
    std::atomic<size_t> sent{0};
    start([&sent](PeerSocket& socket) {
        socket.readLine();
        socket.send("ok \n");
        socket.readLine();
        socket.send("ok ");
        const std::vector<char> chunk(1 << 20, 'y');
        while (sent < (size_t{1} << 30) && socket.send(chunk.data(), chunk.size())) sent += chunk.size();
    });
    ASSERT_TRUE(api.connect("127.0.0.1", listener.port(), 5000));
    const size_t baseline = testing::residentBytes();
    std::string result;
    EXPECT_FALSE(api.call(0, "GetMetaData", "", true, result, 60000));
    EXPECT_EQ("Reply line longer than " + std::to_string(CoIoTcpDescriptor::MAX_LINE_LENGTH) + " bytes.",
              result);
    EXPECT_FALSE(api.isConnected());
    peer.join();
    EXPECT_LT(sent.load(), size_t{1} << 30) << "the client must drop the connection";
    const size_t now = testing::residentBytes();
    EXPECT_LT(now - std::min(now, baseline), testing::lineCapMemoryBound());
}

TEST_F(ClientAgainstRawPeer, StopReachesALongSendToAPeerThatDoesNotRead) {
    std::promise<void> finished;
    start([&finished](PeerSocket& socket) {
        socket.readLine();
        socket.send("ok \n");
        finished.get_future().wait();  // reads nothing more
    });
    ASSERT_TRUE(api.connect("127.0.0.1", listener.port(), 5000));
    const std::string args(64 << 20, 'a');
    std::string result;
    std::future<bool> call = std::async(std::launch::async, [&] {
        return api.call(0, "SetMetaData", args.c_str(), true, result, 600000);
    });
    EXPECT_FALSE(stopRepeatedly(api, call));
    EXPECT_EQ("cancelled by user", result);
    EXPECT_FALSE(api.isConnected());
    finished.set_value();
}

// A listener whose queue is full never completes a new connect; a stop ends the wait.
TEST(ClientConnect, StopReachesAConnectThatIsUnderWay) {
    const int listening = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = PeerSocket::loopback(0);
    ASSERT_EQ(0, ::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(listening, 0));
    socklen_t length = sizeof address;
    ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<PeerSocket> queued;
    for (int i = 0; i < 4; ++i) {
        queued.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queued.back().fd(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    rcAPI api;
    const auto start = std::chrono::steady_clock::now();
    std::future<bool> connect = std::async(std::launch::async, [&] {
        return api.connect("127.0.0.1", ntohs(address.sin_port), 60000);
    });
    EXPECT_FALSE(stopRepeatedly(api, connect));
    EXPECT_EQ("cancelled by user", api.lastError());
    // Ended by the stop, not by the connect's own time limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(rcAPI::CONNECT_TIMEOUT_SECONDS));
    EXPECT_FALSE(api.isConnected());
    ::close(listening);
}

TEST(ClientConnect, FailsWithTheSocketTextWhenNobodyListens) {
    int port = 0;
    { PeerListener closed; port = closed.port(); }
    rcAPI api;
    EXPECT_FALSE(api.connect("127.0.0.1", port, 1000));
    EXPECT_EQ(ioText(CoIoDescriptor::IO_ERR_CONNECTION_REFUSED), api.lastError());
    EXPECT_FALSE(api.isConnected());
    std::string result;
    EXPECT_FALSE(api.call(0, "_ping", "", true, result, 1000));
    EXPECT_EQ(NOT_CONNECTED, api.lastError());
}

}  // namespace
}  // namespace Vantrel
