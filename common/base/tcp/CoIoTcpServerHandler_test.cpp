#include "tcp/CoIoTcpServerHandler.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "osal/CoTime.h"
#include "tcp/TcpTestSupport.h"

namespace Vantrel {
namespace {

using testing::DebugCapture;

// Keeps every connection it is handed.
class RecordingServer : public CoIoTcpServerHandler {
public:
    RecordingServer() : CoIoTcpServerHandler(-1, 0, 0) {}

    bool handleConnection(CoIoTcpDescriptor* io) override {
        connections.emplace_back(io);
        return true;
    }

    std::vector<std::unique_ptr<CoIoTcpDescriptor>> connections;
};

bool readable(const CoIoDescriptor& io, int timeoutMs) {
    pollfd watched{io.id(), POLLIN, 0};
    return poll(&watched, 1, timeoutMs) == 1;
}

TEST(CoIoTcpServerHandler, EachClientIsHandedOverOnceAsAValidNonBlockingConnection) {
    DebugCapture messages;
    RecordingServer server;
    ASSERT_TRUE(server.descriptor()->isValid()) << server.descriptor()->lastError();
    EXPECT_EQ(CoIoHandler::READ_EVENT | CoIoHandler::EXCEPTION_EVENT, server.getEventMask());
    const int port = server.descriptor()->getPort();
    const int clientCount = 3;

    // The event loop's thread: accept whenever the listening socket is readable.
    std::atomic<bool> failed{false};
    std::thread loop([&] {
        const uint64_t start = CoTime::monotonicMs();
        while (server.connections.size() < clientCount && CoTime::monotonicMs() - start < 10000)
            if (readable(*server.descriptor(), 100) && !server.handleRead()) failed = true;
    });
    std::vector<std::unique_ptr<CoIoTcpDescriptor>> clients;
    for (int i = 0; i < clientCount; ++i) {
        clients.emplace_back(new CoIoTcpDescriptor("127.0.0.1", port, 0, 0, 5));
        ASSERT_TRUE(clients.back()->isValid()) << clients.back()->lastError();
        EXPECT_TRUE(clients.back()->writeStr(("client " + std::to_string(i) + "\n").c_str()));
    }
    loop.join();
    EXPECT_FALSE(failed);
    ASSERT_EQ(static_cast<size_t>(clientCount), server.connections.size());

    std::set<std::string> lines;
    for (const auto& connection : server.connections) {
        ASSERT_TRUE(connection->isValid());
        EXPECT_TRUE(fcntl(connection->id(), F_GETFL) & O_NONBLOCK);
        char line[32];
        EXPECT_GT(connection->readLine(line, sizeof line), 0) << connection->lastError();
        lines.insert(line);
    }
    EXPECT_EQ((std::set<std::string>{"client 0", "client 1", "client 2"}), lines);
    int successes = 0;
    for (const std::string& text : messages.texts()) successes += text == "Connection successful.";
    EXPECT_EQ(clientCount, successes);
}

TEST(CoIoTcpServerHandler, AnAcceptWithNothingWaitingIsPostedAndKeepsTheListener) {
    RecordingServer server;
    ASSERT_TRUE(server.descriptor()->isValid()) << server.descriptor()->lastError();
    DebugCapture messages;
    EXPECT_TRUE(server.handleRead());  // nobody is waiting to be accepted
    EXPECT_TRUE(server.connections.empty());
    const std::string expected =
        "Can't accept client connection: Resource temporarily unavailable.";
    EXPECT_EQ(std::vector<std::string>{expected}, messages.texts());
    EXPECT_EQ(CoIoHandler::READ_EVENT | CoIoHandler::EXCEPTION_EVENT, server.getEventMask());
}

// Out of descriptors, the listener pauses (no events watched) instead of leaving the loop,
// posts the shortage once, and takes the waiting client once descriptors are free again.
TEST(CoIoTcpServerHandler, RunningOutOfDescriptorsPausesAcceptingAndResumes) {
    if (!testing::DescriptorCeiling::usableHere())
        GTEST_SKIP() << "the sanitizers need descriptors of their own";
    RecordingServer server;
    ASSERT_TRUE(server.descriptor()->isValid()) << server.descriptor()->lastError();
    CoIoTcpDescriptor client("127.0.0.1", server.descriptor()->getPort(), 0, 0, 5);
    ASSERT_TRUE(client.isValid()) << client.lastError();
    ASSERT_TRUE(readable(*server.descriptor(), 5000));
    DebugCapture messages;
    {
        testing::DescriptorCeiling ceiling(0);
        EXPECT_TRUE(server.handleRead());
        EXPECT_EQ(0, server.getEventMask());
        EXPECT_TRUE(server.handleRead());
    }
    EXPECT_TRUE(server.connections.empty());
    const std::string shortage =
        "Can't accept client connection: Too many open files. Accepting again as descriptors "
        "become free.";
    const std::vector<std::string> texts = messages.texts();
    EXPECT_EQ(1, std::count(texts.begin(), texts.end(), shortage));
    EXPECT_GT(server.resumeAcceptingIfDue(), 0);
    const uint64_t start = CoTime::monotonicMs();
    while (server.resumeAcceptingIfDue() >= 0 && CoTime::monotonicMs() - start < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(CoIoHandler::READ_EVENT | CoIoHandler::EXCEPTION_EVENT, server.getEventMask());
    EXPECT_TRUE(server.handleRead());
    EXPECT_EQ(1u, server.connections.size());
}

}  // namespace
}  // namespace Vantrel
