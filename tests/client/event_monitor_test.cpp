// The client's event monitor against a server made here that records the registration calls,
// with this test playing the server that calls "NodeEvent" back.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EventTestSupport.h"
#include "FakeNodeServer.h"
#include "rcApi/rcAPI.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/client/api/VantrelServerImp.h"

namespace {

using clienttest::FakeNodeServer;
using client_testing::RecordingHandler;
using client_testing::registrationArgs;
using vantrel_testing::ClientScope;
typedef FakeNodeServer::Request Request;

constexpr unsigned int CALL_MS = 5000;

class EventMonitorTest : public ::testing::Test {
protected:
    EventMonitorTest() : handle_(server_.serverId().c_str()) {}

    int port() const { return VantrelEventMonitor::instance()->port(); }
    unsigned int connectionId() { return handle_.imp()->events()->id(); }
    Request registerRequest(const std::string& subject) {
        return {"RegisterEvents", registrationArgs(port(), connectionId(), subject)};
    }
    Request unregisterRequest(const std::string& subject) {
        return {"UnregisterEvents", registrationArgs(port(), connectionId(), subject)};
    }

    // Calls "NodeEvent" on the monitor as a server would; the reply text in `reply`.
    bool sendEvent(int object, const std::string& stream, std::string& reply) {
        if (!monitorClient_.isConnected() &&
            !monitorClient_.connect("127.0.0.1", port(), CALL_MS)) {
            reply = monitorClient_.lastError();
            return false;
        }
        return monitorClient_.call(object, "NodeEvent", stream.c_str(), true, reply, CALL_MS);
    }
    void sendEvent(const std::string& stream) {
        std::string reply;
        EXPECT_TRUE(sendEvent(static_cast<int>(connectionId()), stream, reply)) << reply;
    }

    ClientScope client_;
    FakeNodeServer server_;
    VantrelServerHandle handle_;
    Vantrel::rcAPI monitorClient_;
};

}  // namespace

// The first handler of a node registers it, the last one unregisters it; the first
// registration of a connection opens the link, which first clears what the server may hold.
TEST_F(EventMonitorTest, RegistrationTrafficFollowsTheFirstAndLastHandlerOfANode) {
    RecordingHandler first, second;
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &first))
        << handle_.lastError();
    EXPECT_EQ(std::vector<Request>({unregisterRequest(""), registerRequest("clip 3")}),
              server_.requests());
    server_.clearRequests();

    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &second));
    EXPECT_TRUE(handle_.unregisterEventHandler(VantrelNodeId("clip 3"), &first));
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_TRUE(handle_.unregisterEventHandler(VantrelNodeId("clip 3"), &second));
    EXPECT_EQ(std::vector<Request>({unregisterRequest("clip 3")}), server_.requests());
    server_.clearRequests();

    EXPECT_FALSE(handle_.unregisterEventHandler(VantrelNodeId("clip 3"), &second));
    EXPECT_FALSE(handle_.unregisterEventHandler(VantrelNodeId("never"), &first));
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(EventMonitorTest, ARefusedRegistrationRecordsNothing) {
    server_.answer("RegisterEvents", "No such node: clip 3", false);
    RecordingHandler handler;
    EXPECT_FALSE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &handler));
    EXPECT_STREQ("No such node: clip 3", handle_.lastError());
    server_.clearRequests();
    EXPECT_FALSE(handle_.unregisterEventHandler(VantrelNodeId("clip 3"), &handler));
    EXPECT_STREQ("Not registered for events of node 'clip 3'.", handle_.lastError())
        << "not the text of the refused registration";
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(EventMonitorTest, ConnectionNumbersFollowEachOther) {
    VantrelServerHandle second(server_.serverId().c_str()), third(server_.serverId().c_str());
    const unsigned int first = connectionId();
    EXPECT_GE(first, 1u);
    EXPECT_EQ(first + 1, second.imp()->events()->id());
    EXPECT_EQ(first + 2, third.imp()->events()->id());
    EXPECT_TRUE(server_.requests().empty());  // binding makes no traffic
}

// "NodeEvent" reaches every handler of the node, in registration order, on the monitor thread;
// a malformed one reaches none.
TEST_F(EventMonitorTest, NodeEventsReachTheNodesHandlersOnTheMonitorThread) {
    RecordingHandler first, second, other;
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &first));
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &second));
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 4"), &other));

    const struct {
        const char* stream;
        const char* error;
    } malformed[] = {
        {"NodeId 6 clip 3Type 7 Renamed", "Missing 'Details' parameter"},
        {"Type 7 RenamedDetails 0 ", "Missing 'NodeId' parameter"},
        {"NodeId 6 clip 3Details 0 ", "Missing 'Type' parameter"},
    };
    for (const auto& c : malformed) {
        std::string reply;
        EXPECT_FALSE(sendEvent(static_cast<int>(connectionId()), c.stream, reply));
        EXPECT_EQ(c.error, reply);
    }
    std::string reply;
    EXPECT_FALSE(sendEvent(9999, "NodeId 6 clip 3Type 1 TDetails 0 ", reply));
    EXPECT_EQ("Invalid Object: 9999", reply);

    sendEvent("NodeId 6 clip 3Type 7 RenamedDetails 11 Name 4 Beta");
    sendEvent("NodeId 6 clip 9Type 1 TDetails 0 ");  // nobody's: dropped
    ASSERT_TRUE(second.waitFor(1));
    for (RecordingHandler* handler : {&first, &second}) {
        ASSERT_EQ(1u, handler->seen().size());
        const RecordingHandler::Seen seen = handler->seen()[0];
        EXPECT_EQ("clip 3", seen.nodeId);
        EXPECT_EQ("Renamed", seen.type);
        EXPECT_EQ("Name 4 Beta", seen.details);
        EXPECT_TRUE(seen.onMonitorThread);
    }
    EXPECT_TRUE(other.seen().empty());
}

// A handler that unregisters itself and the next handler from inside handleEvent: no wait, and
// the removed handler is not called.
TEST_F(EventMonitorTest, AHandlerMayUnregisterHandlersFromInsideAnEvent) {
    struct Unregistering : VantrelNodeEvent::Handler {
        VantrelServerHandle* handle;
        VantrelNodeEvent::Handler* next;
        std::atomic<int> calls{0};
        void handleEvent(const VantrelNodeEvent& event) override {
            ++calls;
            handle->unregisterEventHandler(event.getNodeId(), this);
            handle->unregisterEventHandler(event.getNodeId(), next);
        }
    } first;
    RecordingHandler second;
    first.handle = &handle_;
    first.next = &second;
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &first));
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &second));
    server_.clearRequests();

    sendEvent("NodeId 6 clip 3Type 1 TDetails 0 ");
    sendEvent("NodeId 6 clip 3Type 1 TDetails 0 ");
    EXPECT_EQ(1, first.calls);
    EXPECT_TRUE(second.seen().empty());
    EXPECT_EQ(std::vector<Request>({unregisterRequest("clip 3")}), server_.requests());
}

// Application threads register and unregister while events arrive; once unregistering returns
// the handler never runs again, so it can go.
TEST_F(EventMonitorTest, HandlersComeAndGoWhileEventsArrive) {
    struct Watched : VantrelNodeEvent::Handler {
        std::atomic<bool> gone{false};
        std::atomic<bool> calledWhenGone{false};
        void handleEvent(const VantrelNodeEvent&) override {
            if (gone) calledWhenGone = true;
        }
    };
    RecordingHandler steady;  // keeps the node registered: no traffic per round
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &steady));
    std::atomic<bool> done{false};
    const int object = static_cast<int>(connectionId());
    const int monitorPort = port();
    std::thread events([&] {
        Vantrel::rcAPI server;
        if (!server.connect("127.0.0.1", monitorPort, CALL_MS)) return;
        std::string reply;
        while (!done)
            server.call(object, "NodeEvent", "NodeId 6 clip 3Type 1 TDetails 0 ", true, reply,
                        CALL_MS);
    });
    ASSERT_TRUE(steady.waitFor(1));
    for (int round = 0; round < 200; ++round) {
        std::unique_ptr<Watched> watched(new Watched);
        ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), watched.get()));
        std::this_thread::yield();
        ASSERT_TRUE(handle_.unregisterEventHandler(VantrelNodeId("clip 3"), watched.get()));
        watched->gone = true;
        EXPECT_FALSE(watched->calledWhenGone);
    }
    done = true;
    events.join();
}

// Unregistering from an application thread returns only once a running call of the handler
// has ended, so the handler may be deleted right after.
TEST_F(EventMonitorTest, UnregisteringWaitsForTheRunningHandler) {
    struct Blocking : VantrelNodeEvent::Handler {
        std::mutex lock;
        std::condition_variable changed;
        bool entered = false;
        bool released = false;
        void handleEvent(const VantrelNodeEvent&) override {
            std::unique_lock<std::mutex> guard(lock);
            entered = true;
            changed.notify_all();
            changed.wait(guard, [this] { return released; });
        }
    } blocking;
    ASSERT_TRUE(handle_.registerEventHandler(VantrelNodeId("clip 3"), &blocking));
    const int object = static_cast<int>(connectionId());
    const int monitorPort = port();
    std::thread server([&] {
        Vantrel::rcAPI client;
        std::string reply;
        if (client.connect("127.0.0.1", monitorPort, CALL_MS))
            client.call(object, "NodeEvent", "NodeId 6 clip 3Type 1 TDetails 0 ", true, reply,
                        CALL_MS);
    });
    {
        std::unique_lock<std::mutex> guard(blocking.lock);
        ASSERT_TRUE(blocking.changed.wait_for(guard, std::chrono::seconds(10),
                                              [&] { return blocking.entered; }));
    }
    std::atomic<bool> returned{false};
    std::thread unregistering([&] {
        EXPECT_TRUE(handle_.unregisterEventHandler(VantrelNodeId("clip 3"), &blocking));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    {
        std::lock_guard<std::mutex> guard(blocking.lock);
        blocking.released = true;
    }
    blocking.changed.notify_all();
    unregistering.join();
    server.join();
    EXPECT_TRUE(returned);
}

// A handler may destroy the very server handle it was registered on; the node's other
// handlers are then not called.
TEST_F(EventMonitorTest, AHandlerMayDestroyItsServerHandle) {
    std::unique_ptr<VantrelServerHandle> own(new VantrelServerHandle(server_.serverId().c_str()));
    struct Destroying : VantrelNodeEvent::Handler {
        std::unique_ptr<VantrelServerHandle>* handle;
        void handleEvent(const VantrelNodeEvent&) override { handle->reset(); }
    } destroying;
    destroying.handle = &own;
    RecordingHandler after;
    ASSERT_TRUE(own->registerEventHandler(VantrelNodeId("clip 3"), &destroying));
    ASSERT_TRUE(own->registerEventHandler(VantrelNodeId("clip 3"), &after));
    const int object = static_cast<int>(own->imp()->events()->id());

    std::string reply;
    EXPECT_TRUE(sendEvent(object, "NodeId 6 clip 3Type 1 TDetails 0 ", reply)) << reply;
    EXPECT_EQ(nullptr, own);
    EXPECT_TRUE(after.seen().empty());
    EXPECT_FALSE(sendEvent(object, "NodeId 6 clip 3Type 1 TDetails 0 ", reply));
    EXPECT_EQ("Invalid Object: " + std::to_string(object), reply);
}
