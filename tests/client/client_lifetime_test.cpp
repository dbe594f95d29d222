// Shared connections under concurrency and across the library's life: the shared description
// read while another handle refreshes it, handles that outlive the library, when the
// disconnect callback is told, idle time after heavy use, and a stop during a connect.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ServerHandleTestSupport.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

using client_testing::DisconnectRecorder;
using client_testing::TestServer;
using vantrel_testing::ClientScope;
using vantrel_testing::DebugLog;

constexpr unsigned PING_MS = 5000;
const char NOT_INITIALISED[] = "Vantrel client library not initialised.";

// One handle reads the description while another one's refreshes replace it, after each
// restart of the server on another store (run in the ThreadSanitizer build).
TEST(SharedDescription, ReadersGetAConsistentCopyWhileAnotherHandleRefreshesIt) {
    TestServer server;
    ASSERT_TRUE(server.running());
    ClientScope client;
    VantrelServerHandle reader(server.id().c_str()), refresher(server.id().c_str());
    VantrelStr first;
    ASSERT_TRUE(reader.getStorageId(first)) << reader.lastError();

    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::thread readerThread([&] {
        while (!done) {
            VantrelStr id;
            if (!reader.getStorageId(id) || id.length() == 0) continue;
            const char* host = reader.getHostName();  // valid until the next description read
            if (host != nullptr && host[0] != '\0') ++reads;
        }
    });
    std::vector<std::string> seen{first.c_str()};
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(server.restartOnTree("store" + std::to_string(i % 2)));
        EXPECT_TRUE(refresher.ping(PING_MS)) << refresher.lastError();
        VantrelStr id;
        EXPECT_TRUE(refresher.getStorageId(id)) << refresher.lastError();
        seen.push_back(id.c_str());
    }
    done = true;
    readerThread.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_NE(seen[1], seen[2]) << "each restart brings another store";
}

// A handle bound before the last uninit (or made before its VantrelClient, so destroyed
// after it) fails cleanly while the library is down, works again after a new init, and is
// safe to destroy at any point (run in the AddressSanitizer build).
TEST(LibraryLifetime, HandlesThatOutliveTheLibraryFailCleanlyAndAreSafeToDestroy) {
    TestServer server;
    ASSERT_TRUE(server.running());
    std::unique_ptr<VantrelServerHandle> outliving(new VantrelServerHandle(server.id().c_str()));
    std::unique_ptr<VantrelServerHandle> destroyedAfterSecondUninit;
    {
        ClientScope client;
        ASSERT_TRUE(outliving->ping(PING_MS)) << outliving->lastError();
        VantrelStr id;
        ASSERT_TRUE(outliving->getStorageId(id));
    }
    VantrelStr id;
    EXPECT_FALSE(outliving->getStorageId(id));
    EXPECT_STREQ(NOT_INITIALISED, outliving->lastError());
    EXPECT_EQ(nullptr, outliving->getHostName());
    EXPECT_FALSE(outliving->ping(PING_MS));
    EXPECT_STREQ(NOT_INITIALISED, outliving->lastError());
    EXPECT_FALSE(outliving->isConnected());
    outliving->disconnect();
    {
        ClientScope again;
        EXPECT_TRUE(outliving->ping(PING_MS)) << outliving->lastError();
        EXPECT_TRUE(outliving->getStorageId(id)) << outliving->lastError();
        destroyedAfterSecondUninit.reset(new VantrelServerHandle(server.id().c_str()));
        EXPECT_TRUE(destroyedAfterSecondUninit->ping(PING_MS));
    }
    {
        ClientScope third;  // a new library: the handles of the old one are only destroyed
        destroyedAfterSecondUninit.reset();
        outliving.reset();
        VantrelServerHandle fresh(server.id().c_str());
        EXPECT_TRUE(fresh.ping(PING_MS)) << fresh.lastError();
    }
}

// Pings `handle` from `threads` threads until `done`; the pings that succeeded.
int pingFromThreads(VantrelServerHandle& handle, int threads, const std::atomic<bool>& done) {
    std::atomic<int> answered{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back([&] {
            VantrelServerHandle own(handle);  // a handle per thread, one shared link
            while (!done) answered += own.ping(PING_MS);
        });
    for (std::thread& worker : workers) worker.join();
    return answered;
}

// The callback tells of a failed call that leaves the link closed, once per loss: neither
// forced disconnects nor the calls queued behind the one that lost the link add reports.
TEST(DisconnectCallback, ForcedDisconnectsReportNothingAndOneLossIsReportedOnce) {
    TestServer server;
    ASSERT_TRUE(server.running());
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle handle(server.id().c_str());
    ASSERT_TRUE(handle.ping(PING_MS)) << handle.lastError();

    std::atomic<bool> done{false};
    std::future<int> pings =
        std::async(std::launch::async, [&] { return pingFromThreads(handle, 8, done); });
    for (int i = 0; i < 30; ++i) {
        handle.disconnect();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    done = true;
    EXPECT_GT(pings.get(), 0);
    EXPECT_TRUE(disconnects.ids().empty()) << disconnects.ids().size() << " reports";

    done = false;
    pings = std::async(std::launch::async, [&] { return pingFromThreads(handle, 3, done); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = true;
    pings.get();
    EXPECT_EQ(std::vector<std::string>{server.id()}, disconnects.ids());
}

// Idle time counts from the release: a link used for longer than the idle time is kept when
// its last handle lets it go.
TEST(SharedConnectionIdleTime, CountsFromTheReleaseNotFromTheFirstUse) {
    TestServer server;
    ASSERT_TRUE(server.running());
    DebugLog log;
    ClientScope client("2");  // two slots, two seconds of idle time
    {
        VantrelServerHandle busy(server.id().c_str());
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(busy.ping(PING_MS)) << busy.lastError();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    VantrelClientReleaseUnusedConnections(false);
    EXPECT_EQ(0, log.count("Releasing shared connection"));
    VantrelServerHandle next(server.id().c_str());
    EXPECT_TRUE(next.ping(PING_MS)) << next.lastError();
    EXPECT_EQ(1, log.count("Connected to server [127.0.0.1:" + std::to_string(server.port()) + "]"));
}

// A server whose listen queue is full never completes a connect; a stop from another thread
// ends the call with its text well before the connect's own time limit.
TEST(StopWhileConnecting, TheCallFailsWithTheStopsText) {
    const int listening = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, ::bind(listening, reinterpret_cast<sockaddr*>(&address), length));
    ASSERT_EQ(0, ::listen(listening, 0));
    ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ClientScope client;
    DisconnectRecorder disconnects;
    VantrelServerHandle handle(("127.0.0.1:" + std::to_string(ntohs(address.sin_port))).c_str());
    const auto start = std::chrono::steady_clock::now();
    std::future<bool> ping = std::async(std::launch::async, [&] { return handle.ping(60000); });
    while (ping.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
        handle.stop("cancelled by user");
    EXPECT_FALSE(ping.get());
    EXPECT_STREQ("cancelled by user", handle.lastError());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(disconnects.ids().empty()) << "no link was open";
    for (int fd : queued) ::close(fd);
    ::close(listening);
}

}  // namespace
