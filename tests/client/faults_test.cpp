// Faults between the client library and real vantreld processes: a server killed in the middle
// of a call, of a frame transfer and of an event delivery; a server that takes connections and
// never answers; the network cut between two hosts and brought back; many threads on one
// server while it restarts. Every wait is bounded, so a client that hangs fails the test.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "NamespaceHost.h"
#include "ServerHandleTestSupport.h"
#include "network/CoNetworkUtil.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"

namespace {

using client_testing::CallCeiling;
using client_testing::TestServer;
using vantrel_testing::ClientScope;
using Clock = std::chrono::steady_clock;

const char* const OPENING = "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening";  // 4 frames
// The longest any step may take before the test calls it a hang.
const std::chrono::seconds BOUND(20);
const std::string TIMED_OUT = Vantrel::CoNetworkUtil::strerror(ETIMEDOUT);

// Waits until `condition` holds, for at most BOUND.
bool waitUntil(const std::function<bool()>& condition) {
    const auto end = Clock::now() + BOUND;
    while (!condition()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

template <class Result>
bool endsInTime(std::future<Result>& call) {
    return call.wait_for(BOUND) == std::future_status::ready;
}

// ------------------------------------------------------------- what the system holds

// The bytes the system holds on this namespace's established TCP sockets whose local port is
// `port`: received but not yet read by the program (RECEIVED), or written by the program but
// not yet taken by the peer (UNSENT).
enum class Queue { UNSENT, RECEIVED };
unsigned long queuedAt(int port, Queue queue) {
    unsigned long total = 0;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues;
            fields >> slot >> local >> remote >> state >> queues;
            const size_t colon = queues.find(':');
            if (state != "01" || colon == std::string::npos ||
                std::stoi(local.substr(local.find(':') + 1), nullptr, 16) != port)
                continue;
            total += std::stoul(
                queue == Queue::UNSENT ? queues.substr(0, colon) : queues.substr(colon + 1),
                nullptr, 16);
        }
    }
    return total;
}

// The bytes the peers have taken from this namespace's established TCP sockets whose local
// port is `port` (the sockets' "bytes_acked", as `ss` reports it).
unsigned long long takenFrom(int port) {
    const std::string command =
        "ss -tinH state established '( sport = :" + std::to_string(port) + " )' 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr) return 0;
    std::string text;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, out)) > 0;) text.append(chunk, n);
    ::pclose(out);
    unsigned long long total = 0;
    const std::string key = "bytes_acked:";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1))
        total += std::stoull(text.substr(at + key.size()));
    return total;
}

// A fresh node handle's child count: a call that always goes to the server.
bool countChildren(const VantrelServerHandle& server, const VantrelNodeId& node) {
    VantrelNodeHandle fresh(server, node);
    int children = 0;
    return fresh.getNumChildren(children);
}

std::vector<char> pattern(size_t size, int seed) {
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 4093 + seed) & 0xff);
    return bytes;
}

// ------------------------------------------------------------------ a killed server

TEST(ServerKilled, InTheMiddleOfACallTheCallFailsAndAfterARestartTheNextOneSucceeds) {
    TestServer server, bystander;
    ASSERT_TRUE(server.running() && bystander.running());
    ClientScope client;
    VantrelServerHandle handle(server.id().c_str());
    VantrelNodeHandle root;
    ASSERT_TRUE(handle.getRootNode(root)) << handle.lastError();

    server.signal(SIGSTOP);
    auto call =
        std::async(std::launch::async, [&] { return countChildren(handle, root.getNodeId()); });
    // The request waits, unread, in the server's socket: the call is under way.
    ASSERT_TRUE(waitUntil([&] { return queuedAt(server.port(), Queue::RECEIVED) > 0; }));
    server.kill();
    ASSERT_TRUE(endsInTime(call));
    EXPECT_FALSE(call.get());
    EXPECT_EQ(Vantrel::CoNetworkUtil::strerror(ECONNRESET), handle.lastError());

    VantrelServerHandle other(bystander.id().c_str());
    EXPECT_TRUE(other.ping(5000)) << "the process works on: " << other.lastError();
    ASSERT_TRUE(server.restart());
    EXPECT_TRUE(countChildren(handle, root.getNodeId())) << handle.lastError();
}

// A server on the sample tree and a handle on its clip "Opening".
class FrameFault : public ::testing::Test {
protected:
    static constexpr size_t BIG = 48u << 20;

    void SetUp() override {
        ASSERT_TRUE(server_.running());
        ASSERT_TRUE(VantrelResolveDisplayPath(handle_, OPENING, clip_)) << handle_.lastError();
        for (int i = 0; i < 4; ++i) {
            VantrelStr id;
            ASSERT_TRUE(clip_.getFrameId(i, id)) << clip_.lastError();
            frames_.push_back(id.c_str());
        }
    }
    const char* frame(int index) const { return frames_[static_cast<size_t>(index)].c_str(); }
    bool write(int index, const std::vector<char>& bytes) {
        return handle_.writeFrame(frame(index), bytes.data(), static_cast<unsigned>(bytes.size()));
    }
    bool readsBack(int index, const std::vector<char>& expected) {
        std::vector<char> bytes(expected.size());
        return handle_.readFrame(frame(index), bytes.data(), static_cast<unsigned>(bytes.size())) &&
               bytes == expected;
    }

    TestServer server_{{}, "", TestServer::Tree::SAMPLE};
    ClientScope client_;
    VantrelServerHandle handle_{server_.id().c_str()};
    VantrelNodeHandle clip_;
    std::vector<std::string> frames_;
};

TEST_F(FrameFault, KilledWhileAFrameIsWrittenTheWriteFailsAndAcknowledgedFramesStay) {
    const std::vector<char> acknowledged = pattern(65536, 1), big = pattern(BIG, 2);
    ASSERT_TRUE(write(1, acknowledged)) << handle_.lastError();

    server_.signal(SIGSTOP);
    auto writing = std::async(std::launch::async, [&] { return write(2, big); });
    // Part of the frame waits, unread, in the server's socket: the transfer is under way.
    ASSERT_TRUE(waitUntil([&] { return queuedAt(server_.framePort(), Queue::RECEIVED) > 0; }));
    server_.kill();
    ASSERT_TRUE(endsInTime(writing));
    EXPECT_FALSE(writing.get());
    EXPECT_STRNE("", handle_.lastError());

    ASSERT_TRUE(server_.restart());
    EXPECT_TRUE(readsBack(1, acknowledged)) << handle_.lastError();
    ASSERT_TRUE(write(2, big)) << handle_.lastError();
    EXPECT_TRUE(readsBack(2, big)) << handle_.lastError();
}

TEST_F(FrameFault, KilledWhileAFrameIsReadTheReadFailsAndAfterARestartTheNextOneSucceeds) {
    const std::vector<char> big = pattern(BIG, 3);
    ASSERT_TRUE(write(2, big)) << handle_.lastError();
    std::vector<char> into(BIG);
    bool caught = false;
    // Freeze the server while it sends and let the client take what the system holds: when
    // the client has had less than the frame, the rest is in the frozen process only.
    for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
        const unsigned long long before = takenFrom(server_.framePort());
        auto reading = std::async(std::launch::async, [&] {
            return handle_.readFrame(frame(2), into.data(), static_cast<unsigned>(BIG));
        });
        ASSERT_TRUE(waitUntil([&] {
            return queuedAt(server_.framePort(), Queue::UNSENT) > 0 ||
                   reading.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        }));
        server_.signal(SIGSTOP);
        ASSERT_TRUE(waitUntil([&] { return queuedAt(server_.framePort(), Queue::UNSENT) == 0; }));
        caught = takenFrom(server_.framePort()) - before < BIG;
        if (caught) server_.kill();
        server_.signal(SIGCONT);
        ASSERT_TRUE(endsInTime(reading));
        EXPECT_NE(caught, reading.get()) << handle_.lastError();
    }
    ASSERT_TRUE(caught) << "every read ended before the server could be stopped in its middle";
    EXPECT_STRNE("", handle_.lastError());

    ASSERT_TRUE(server_.restart());
    EXPECT_TRUE(readsBack(2, big)) << handle_.lastError();
}

// The data connection left idle when the server restarts is found closed before the next
// request, which goes on a fresh one rather than failing.
TEST_F(FrameFault, RestartedBetweenTwoFrameCallsTheNextOneSucceeds) {
    const std::vector<char> written = pattern(4096, 4);
    ASSERT_TRUE(write(3, written)) << handle_.lastError();
    ASSERT_TRUE(server_.restart());
    EXPECT_TRUE(readsBack(3, written)) << handle_.lastError();
}

// Holds the event monitor in the first event it is given until released.
class HoldingHandler : public VantrelNodeEvent::Handler {
public:
    void handleEvent(const VantrelNodeEvent& event) override {
        std::unique_lock<std::mutex> lock(lock_);
        types_.push_back(event.getType().c_str());
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    bool waitForEvents(size_t count) {
        std::unique_lock<std::mutex> lock(lock_);
        return changed_.wait_for(lock, BOUND, [&] { return types_.size() >= count; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(lock_);
        released_ = true;
        changed_.notify_all();
    }
    std::string type(size_t index) {
        std::lock_guard<std::mutex> lock(lock_);
        return index < types_.size() ? types_[index] : "";
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> types_;
    bool released_ = false;
};

TEST(ServerKilled, InTheMiddleOfAnEventDeliveryTheMonitorCarriesOnAfterARestart) {
    TestServer server;
    ASSERT_TRUE(server.running());
    ClientScope client;
    VantrelServerHandle watcher(server.id().c_str()), changer(server.id().c_str());
    VantrelNodeHandle root, changerRoot, volume;
    ASSERT_TRUE(watcher.getRootNode(root)) << watcher.lastError();
    HoldingHandler handler;
    ASSERT_TRUE(watcher.registerEventHandler(root.getNodeId(), &handler)) << watcher.lastError();
    ASSERT_TRUE(changer.getRootNode(changerRoot) && changerRoot.createNode("V", "VOLUME", volume))
        << changer.lastError();

    // The monitor is inside the delivery, which the server waits to see answered.
    ASSERT_TRUE(handler.waitForEvents(1));
    server.kill();
    handler.release();
    EXPECT_FALSE(watcher.ping(5000));
    EXPECT_EQ(Vantrel::CoNetworkUtil::strerror(ECONNREFUSED), watcher.lastError());

    ASSERT_TRUE(server.restart());
    ASSERT_TRUE(watcher.ping(5000)) << watcher.lastError();  // reconnects, registers again
    ASSERT_TRUE(volume.renameNode("W")) << changer.lastError();
    ASSERT_TRUE(handler.waitForEvents(2));
    EXPECT_EQ("ChildCreated", handler.type(0));
    EXPECT_EQ("ChildRenamed", handler.type(1));
}

// ----------------------------------------------------------- a server that never answers

// A stopped vantreld takes connections (the system completes them from its listen queue) and
// answers nothing. With a ceiling every call, node or frame, times out; without one, stop()
// from another thread cuts it short; once the server runs again, calls succeed.
TEST_F(FrameFault, CallsToAServerThatNeverAnswersTimeOutOrAreStopped) {
    char bytes[96];
    ASSERT_TRUE(handle_.readFrame(frame(0), bytes, sizeof bytes)) << handle_.lastError();
    const VantrelNodeId root("host");
    const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
        {"node call", [&] { return countChildren(handle_, root); }},
        {"frame read", [&] { return handle_.readFrame(frame(1), bytes, sizeof bytes); }},
        {"frame write", [&] { return handle_.writeFrame(frame(1), bytes, sizeof bytes); }},
    };
    server_.signal(SIGSTOP);
    for (const auto& call : calls) {
        SCOPED_TRACE(call.first);
        CallCeiling ceiling(300);
        auto running = std::async(std::launch::async, call.second);
        if (!endsInTime(running)) {
            server_.signal(SIGCONT);  // lets the call end, so that the test can
            FAIL() << "the call outlived its ceiling";
        }
        EXPECT_FALSE(running.get());
        EXPECT_NE(std::string::npos, std::string(handle_.lastError()).find(TIMED_OUT))
            << handle_.lastError();
    }
    for (const auto& call : calls) {
        SCOPED_TRACE(call.first);
        auto running = std::async(std::launch::async, call.second);
        // A stop that comes before the call waits is forgotten: stop until it ends.
        ASSERT_TRUE(waitUntil([&] {
            handle_.stop("Stopped by the test");
            return running.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready;
        }));
        EXPECT_FALSE(running.get());
    }
    server_.signal(SIGCONT);
    for (const auto& call : calls)
        EXPECT_TRUE(call.second()) << call.first << ": " << handle_.lastError();
}

// ------------------------------------------------------------------ the network cut

// vantreld on another host (a network namespace behind a veth pair): the link taken down
// makes calls fail within the ceiling; brought back up, the next calls succeed.
TEST(NetworkCut, TheNextCallsAfterTheLinkComesBackSucceed) {
    vantreld::testing::NamespaceHost host('a');
    if (!host.ok())
        GTEST_SKIP() << "making a network namespace and a veth pair needs root (CAP_SYS_ADMIN "
                        "and CAP_NET_ADMIN) where the test runs";
    client_testing::TempDir dir;
    ASSERT_EQ(
        0, vantreld::testing::VantreldProcess({"--init-sample", dir / "tree"}).waitForExit(20000));
    vantreld::testing::VantreldProcess server(
        {"--port", "0", "--listen", host.address(), "--no-discovery", "--no-sync", dir / "tree"},
        host.launcher());
    const int port = server.waitUntilReady();
    ASSERT_GT(port, 0) << server.printed();
    ClientScope client;
    VantrelServerHandle handle((host.address() + ":" + std::to_string(port)).c_str());
    VantrelNodeHandle clip;
    ASSERT_TRUE(VantrelResolveDisplayPath(handle, OPENING, clip)) << handle.lastError();
    char bytes[96];
    ASSERT_TRUE(clip.readFrame(0, bytes, sizeof bytes, true)) << handle.lastError();

    ASSERT_TRUE(host.setLink(false));
    {
        CallCeiling ceiling(500);
        const std::vector<std::function<bool()>> calls = {
            [&] { return countChildren(handle, clip.getNodeId()); },
            [&] { return clip.readFrame(1, bytes, sizeof bytes, true); },
        };
        for (const auto& call : calls) {
            auto running = std::async(std::launch::async, call);
            if (!endsInTime(running)) {
                host.setLink(true);  // lets the call end, so that the test can
                FAIL() << "a call outlived its ceiling while the link was down";
            }
            EXPECT_FALSE(running.get());
            EXPECT_STRNE("", handle.lastError());
        }
    }
    ASSERT_TRUE(host.setLink(true));
    EXPECT_TRUE(countChildren(handle, clip.getNodeId())) << handle.lastError();
    EXPECT_TRUE(clip.readFrame(2, bytes, sizeof bytes, true)) << handle.lastError();
}

// ------------------------------------------------------------ a reconnection storm

// Sixteen threads, each with handles of its own on one server, call it without pause while
// it restarts twice on the same port: every thread gets through again after each restart, and
// the storm leaves no descriptors behind (run in the ThreadSanitizer build as well).
TEST(ReconnectionStorm, SixteenThreadsGetThroughTwoRestarts) {
    TestServer server;
    ASSERT_TRUE(server.running());
    ClientScope client;
    CallCeiling ceiling(5000);
    constexpr int THREADS = 16;
    std::atomic<bool> done{false};
    std::atomic<int> generation{0};
    std::vector<std::atomic<int>> through(THREADS);  // the last generation each got through in
    for (auto& last : through) last = -1;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            VantrelServerHandle handle(server.id().c_str());
            while (!done) {
                const int now = generation;
                VantrelNodeHandle root;
                if (handle.ping(5000) && handle.getRootNode(root) &&
                    countChildren(handle, root.getNodeId()))
                    through[static_cast<size_t>(t)] = now;
            }
        });
    }
    auto everyThreadThrough = [&](int wanted) {
        return waitUntil([&] {
            for (const auto& last : through)
                if (last < wanted) return false;
            return true;
        });
    };
    EXPECT_TRUE(everyThreadThrough(0));
    const int descriptors = client_testing::openDescriptors();
    for (int restart = 1; restart <= 2; ++restart) {
        ASSERT_TRUE(server.restart());
        generation = restart;
        EXPECT_TRUE(everyThreadThrough(restart)) << "after restart " << restart;
    }
    done = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_LE(client_testing::openDescriptors(), descriptors);
}

}  // namespace
