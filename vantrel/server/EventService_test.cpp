// The server's node events over real sockets: a server on its own thread, clients that
// register through remote calls, and event monitors made here from the serving side (one that
// records what it is sent, one that never answers).
#include "vantrel/server/EventService.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rcApi/rcAPI.h"
#include "rcApi/rcAttrStream.h"
#include "rcApi/rcMethod.h"
#include "rcApi/rcServerContext.h"
#include "rcApi/rcTestSupport.h"
#include "vantrel/server/ServerTestSupport.h"
#include "vantrel/server/VantreldServer.h"

using namespace vantreld;
using Vantrel::testing::eventually;

namespace {

constexpr unsigned int CALL_MS = 5000;

struct Reply {
    bool ok;
    std::string text;
};

// An event monitor that records every "NodeEvent" it is sent: the object id and the stream.
// Connections 1 and 2 exist; any other object id is refused by the serving side.
class RecordingMonitor : public Vantrel::rcServerContext {
public:
    RecordingMonitor() : rcServerContext(-1, "127.0.0.1") {
        static const Vantrel::rcParam::Info params[] = {{&Vantrel::rcParamString::TYPE, "stream"},
                                                        {nullptr, nullptr}};
        registerMethod(Vantrel::rcMethod(*this, "NodeEvent", record, Vantrel::rcParamString::TYPE,
                                         params));
        registerObject(1, &ids_[0]);
        registerObject(2, &ids_[1]);
        loop_.reset(new Vantrel::testing::LoopThread(*this));
    }
    ~RecordingMonitor() override { loop_.reset(); }

    // "ID: STREAM" per event, in the order received.
    std::vector<std::string> events() {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    bool waitForEvents(size_t count) {
        return eventually([&] { return events().size() >= count; }, 10);
    }

private:
    static bool record(void* object, const Vantrel::rcMethod& method,
                       const Vantrel::rcParam::Array& params, Vantrel::rcParam&) {
        auto& self = static_cast<RecordingMonitor&>(method.getServerContext());
        std::lock_guard<std::mutex> guard(self.lock_);
        self.events_.push_back(std::to_string(*static_cast<int*>(object)) + ": " +
                               params[0]->stringValue());
        return true;
    }

    int ids_[2] = {1, 2};
    std::mutex lock_;
    std::vector<std::string> events_;
    std::unique_ptr<Vantrel::testing::LoopThread> loop_;
};

class EventServiceTest : public ::testing::Test {
protected:
    EventServiceTest() : server_(options()) {
        EXPECT_TRUE(client_.connect("127.0.0.1", server_.nodePort(), CALL_MS))
            << client_.lastError();
    }

    VantreldServer::Options options() {
        VantreldServer::Options options;
        options.directory = dir_ / "tree";
        options.port = 0;
        options.sync = ServerFiles::Sync::FAST;
        options.eventTimeoutMs = 500;
        return options;
    }

    static Reply call(Vantrel::rcAPI& client, const char* method, const std::string& args) {
        Reply reply;
        reply.ok = client.call(0, method, args.c_str(), true, reply.text, CALL_MS);
        return reply;
    }
    std::string ok(const char* method, const std::string& args) {
        std::string reply;
        EXPECT_TRUE(client_.call(0, method, args.c_str(), true, reply, CALL_MS))
            << method << ": " << reply;
        return reply;
    }
    static std::string registration(int port, int connection, const std::string& subject) {
        return VantrelEventWire::encodeRegistration({port, connection, subject});
    }
    size_t registrations() { return server_.server().events().registrations().size(); }

    vantreld::testing::TempDir dir_;
    VantreldThread server_;
    Vantrel::rcAPI client_;
};

}  // namespace

// Every change reaches the clients of the node and of its parent, in the order made, with the
// types and details the server documents.
TEST_F(EventServiceTest, ChangesReachTheNodeAndItsParentInOrder) {
    RecordingMonitor monitor;
    ok("RegisterEvents", registration(monitor.getPort(), 1, "host"));
    const std::string volume =
        ok("CreateNodeEx", "Parent 4 hostDispl 1 VType 1 0ExType 6 VOLUME");
    ASSERT_EQ("volume 2", volume);
    ok("RegisterEvents", registration(monitor.getPort(), 2, volume));
    ok("RenameNode", "Node 8 volume 2Displ 2 V2");
    ok("SetMetaData", "\"volume 2\" notes \"text\"");
    ok("DestroyNode", "\"volume 2\"");

    ASSERT_TRUE(monitor.waitForEvents(7));
    const std::vector<std::string> expected = {
        "1: NodeId 4 hostType 12 ChildCreatedDetails 37 Child 8 volume 2Name 1 VType 6 VOLUME",
        "2: NodeId 8 volume 2Type 7 RenamedDetails 9 Name 2 V2",
        "1: NodeId 4 hostType 12 ChildRenamedDetails 25 Child 8 volume 2Name 2 V2",
        "2: NodeId 8 volume 2Type 15 MetaDataChangedDetails 14 Stream 5 notes",
        "1: NodeId 4 hostType 20 ChildMetaDataChangedDetails 30 Child 8 volume 2Stream 5 notes",
        "2: NodeId 8 volume 2Type 9 DestroyedDetails 0 ",
        "1: NodeId 4 hostType 14 ChildDestroyedDetails 16 Child 8 volume 2",
    };
    EXPECT_EQ(expected, monitor.events());
    // The destroyed node's registration went with it; the parent's stays.
    EXPECT_EQ(1u, registrations());
}

TEST_F(EventServiceTest, FrameChangesOfAClip) {
    RecordingMonitor monitor;
    std::string parent = "host";
    for (const char* type : {"VOLUME", "PROJECT", "SHARED_VAULT", "LIBRARY", "CLIP"}) {
        Vantrel::rcAttrStream args;
        args.addStringValue("Parent", parent.c_str());
        args.addStringValue("Displ", type);
        args.addStringValue("Type", "0");
        args.addStringValue("ExType", type);
        parent = ok("CreateNodeEx", args.getStreamStr());
    }
    ASSERT_EQ("clip 6", parent);
    ok("RegisterEvents", registration(monitor.getPort(), 1, "clip 6"));
    ok("AllocateFramesEx", "Node 6 clip 6NumFrames 1 3");
    ok("SetFramePathsEx",
       "Parent 6 clip 6Paths 8 1 4 /a/bHostName 1 hOSType 1 2OSVersion 0 ");
    ASSERT_TRUE(monitor.waitForEvents(2));
    EXPECT_EQ(std::vector<std::string>({
                  "1: NodeId 6 clip 6Type 15 FramesAllocatedDetails 13 NumFrames 1 3",
                  "1: NodeId 6 clip 6Type 12 FramesLinkedDetails 13 NumFrames 1 1",
              }),
              monitor.events());
}

// Registrations belong to the node connection they came on and are bounded.
TEST_F(EventServiceTest, RegistrationsGoWithTheirConnectionAndAreBounded) {
    ok("RegisterEvents", registration(4100, 1, "host"));
    ok("RegisterEvents", registration(4100, 1, "host"));  // held already
    ok("RegisterEvents", registration(4100, 1, "clip 9"));
    EXPECT_EQ(2u, registrations());
    ok("UnregisterEvents", registration(4100, 1, "clip 9"));
    EXPECT_EQ(1u, registrations());

    const struct {
        std::string args;
        const char* error;
    } refused[] = {
        {registration(4100, 1, std::string(EventService::MAX_SUBJECT_BYTES + 1, 'x')),
         "Event subject longer than 4096 bytes"},
        {registration(0, 1, "host"), "Invalid event port 0"},
        {registration(65536, 1, "host"), "Invalid event port 65536"},
        {"Port 4 4100Subject 4 host", "Malformed argument: Missing 'Connection' parameter"},
    };
    for (const auto& c : refused) {
        const auto reply = call(client_, "RegisterEvents", c.args);
        EXPECT_FALSE(reply.ok);
        EXPECT_EQ(c.error, reply.text);
    }
    EXPECT_EQ(1u, registrations());

    for (int port = 4101; port < 4108; ++port)
        ASSERT_TRUE(call(client_, "RegisterEvents", registration(port, 1, "host")).ok);
    const auto ninthPort = call(client_, "RegisterEvents", registration(4108, 1, "host"));
    EXPECT_FALSE(ninthPort.ok);
    EXPECT_EQ("Too many event ports on this connection (at most 8)", ninthPort.text);
    for (int port = 4101; port < 4108; ++port)
        ASSERT_TRUE(call(client_, "UnregisterEvents", registration(port, 1, "")).ok);

    // A second connection may hold as many again; the first is at its limit.
    Vantrel::rcAPI other;
    ASSERT_TRUE(other.connect("127.0.0.1", server_.nodePort(), CALL_MS));
    for (size_t i = 1; i < EventService::MAX_REGISTRATIONS_PER_CONNECTION; ++i)
        ASSERT_TRUE(call(client_, "RegisterEvents", registration(4100, 1, std::to_string(i))).ok);
    const auto full = call(client_, "RegisterEvents", registration(4100, 1, "one more"));
    EXPECT_FALSE(full.ok);
    EXPECT_EQ("Too many event registrations on this connection (at most 4096)", full.text);
    ASSERT_TRUE(call(other, "RegisterEvents", registration(4200, 1, "host")).ok);

    // An empty subject drops every subject of that monitor connection.
    ok("UnregisterEvents", registration(4100, 1, ""));
    EXPECT_EQ(1u, registrations());
    ok("RegisterEvents", registration(4100, 1, "host"));
    client_.disconnect();
    EXPECT_TRUE(eventually([&] { return registrations() == 1; }));
    other.disconnect();
    EXPECT_TRUE(eventually([&] { return registrations() == 0; }));
}

// A monitor that never answers is dropped after the delivery time-out; meanwhile the server
// serves node calls and delivers to the others, and a monitor that refuses a connection's
// events loses that connection's registrations only.
TEST_F(EventServiceTest, AHungMonitorDelaysNobodyAndIsDropped) {
    Vantrel::testing::PeerListener hung;  // connections complete, nobody ever reads
    RecordingMonitor monitor;
    ok("RegisterEvents", registration(hung.port(), 1, "host"));
    ok("RegisterEvents", registration(monitor.getPort(), 1, "host"));
    ok("RegisterEvents", registration(monitor.getPort(), 7, "host"));  // unknown there
    EXPECT_EQ(3u, registrations());

    ok("CreateNodeEx", "Parent 4 hostDispl 1 AType 1 0ExType 6 VOLUME");
    ok("CreateNodeEx", "Parent 4 hostDispl 1 BType 1 0ExType 6 VOLUME");
    EXPECT_EQ("host", ok("GetRootNode", ""));
    ASSERT_TRUE(monitor.waitForEvents(2));
    EXPECT_EQ(0u, monitor.events()[0].find("1: NodeId 4 hostType 12 ChildCreated"));

    EXPECT_TRUE(eventually(
        [&] {
            const auto left = server_.server().events().registrations();
            return left.size() == 1 && left[0].port == monitor.getPort() &&
                   left[0].connection == 1;
        },
        10));
    ok("CreateNodeEx", "Parent 4 hostDispl 1 CType 1 0ExType 6 VOLUME");
    ASSERT_TRUE(monitor.waitForEvents(3));
    EXPECT_EQ(3u, monitor.events().size());
}

// Threads of this process (the server runs in it).
size_t threadCount() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "Threads:") {
            size_t count = 0;
            status >> count;
            return count;
        }
    return 0;
}

// Many clients with eight monitors each: the server holds at most MAX_MONITORS of them, and
// a change that goes to all of them (none listening) is sent by a bounded pool of threads
// while node calls go on being served.
TEST_F(EventServiceTest, MonitorsAndSenderThreadsAreBoundedServerWide) {
    const size_t clients = EventService::MAX_MONITORS / EventService::MAX_PORTS_PER_CONNECTION + 4;
    std::vector<std::unique_ptr<Vantrel::rcAPI>> connections;
    size_t refused = 0;
    for (size_t c = 0; c < clients; ++c) {
        connections.emplace_back(new Vantrel::rcAPI);
        ASSERT_TRUE(connections.back()->connect("127.0.0.1", server_.nodePort(), CALL_MS));
        for (size_t p = 0; p < EventService::MAX_PORTS_PER_CONNECTION; ++p) {
            const int port = static_cast<int>(30000 + c * 8 + p);  // nobody listens there
            const auto reply =
                call(*connections.back(), "RegisterEvents", registration(port, 1, "host"));
            if (reply.ok) continue;
            EXPECT_EQ("Too many event clients on this server (at most 256)", reply.text);
            ++refused;
        }
    }
    EXPECT_EQ(EventService::MAX_MONITORS, registrations());
    EXPECT_EQ(clients * EventService::MAX_PORTS_PER_CONNECTION - EventService::MAX_MONITORS,
              refused);
    const size_t before = threadCount();
    ok("CreateNodeEx", "Parent 4 hostDispl 1 AType 1 0ExType 6 VOLUME");
    EXPECT_EQ("host", ok("GetRootNode", ""));
    EXPECT_TRUE(eventually([&] { return registrations() == 0; }, 30));  // none listens
    EXPECT_LE(server_.server().events().senderThreads(), EventService::MAX_SENDER_THREADS);
    EXPECT_LE(threadCount(), before + EventService::MAX_SENDER_THREADS);
    // Their monitors gone, others may register again.
    EXPECT_TRUE(call(*connections.front(), "RegisterEvents", registration(4100, 1, "host")).ok);
}
