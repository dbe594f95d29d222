// The client library against hostile peers: a node and frame server that answers with
// malformed, huge, truncated or slow bytes (HostileServer), a peer that sends such bytes to the
// event monitor, and discovery datagrams and server lists of the same kind. For every case the
// client must not crash, must stay under a named cap of extra memory (the process's peak,
// measured around the call), must fail with a clear text, and the same process must then work
// with a sound vantreld.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "EventTestSupport.h"
#include "HostileServer.h"
#include "ServerHandleTestSupport.h"
#include "VantreldProcess.h"
#include "tcp/CoIoTcpDescriptor.h"
#include "vantrel/client/connection/VantrelBaseClientAPI.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/client/events/VantrelEventMonitor.h"
#include "vantrel/client/discovery/VantrelMulticastClient.h"
#include "vantrel/protocol/VantrelDiscoveryPacket.h"
#include "vantrel/VantrelNodeHandle.h"

namespace {

using hostile::attribute;
using hostile::Bytes;
using hostile::errorLine;
using hostile::HostileDatagrams;
using hostile::HostilePeer;
using hostile::HostileServer;
using hostile::okLine;

constexpr size_t MiB = 1024 * 1024;
constexpr size_t LINE_LIMIT = Vantrel::CoIoTcpDescriptor::MAX_LINE_LENGTH;

// Extra peak memory a hostile answer of at most a few hundred KiB may cost, whatever counts
// and lengths it announces.
constexpr size_t SMALL_ANSWER_CAP = 32 * MiB;
// Extra peak memory a reply line running past the line limit may cost: the line up to the
// limit, kept once.
constexpr size_t LONG_LINE_CAP = LINE_LIMIT + 32 * MiB;
// Extra peak memory per byte of a sound list reply made of the smallest items (empty or
// one-byte ids): each item becomes strings and handles of its own. Measured: about 17 for
// counted frame lists and 47 for children texts of empty pairs (with 16 MiB of slack).
constexpr size_t LIST_BYTES_FACTOR = 64;
constexpr size_t listCap(size_t replyBytes) { return LIST_BYTES_FACTOR * replyBytes + 16 * MiB; }

// The call time limit of the cases about slow and silent peers, so that they fail quickly.
constexpr unsigned int CALL_TIMEOUT_MS = 400;
// The call time limit of the other cases: room for moving a line past the line limit in the
// sanitizer builds.
constexpr unsigned int GENEROUS_TIMEOUT_MS = 20000;
// A call still running after this counts as hung.
constexpr auto HANG_LIMIT = std::chrono::seconds(40);

// The growth of the process's peak resident memory from the moment of reset().
class PeakMemory {
public:
    PeakMemory() { reset(); }
    void reset() {
        std::ofstream("/proc/self/clear_refs") << "5";
        start_ = field("VmRSS:");
    }
    size_t growth() const {
        const size_t peak = field("VmHWM:");
        return peak > start_ ? peak - start_ : 0;
    }

private:
    // A "kB" field of /proc/self/status, in bytes.
    static size_t field(const std::string& name) {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.compare(0, name.size(), name) == 0)
                return std::stoull(line.substr(name.size())) * 1024;
        return 0;
    }
    size_t start_ = 0;
};

bool memoryIsMeasured() {
#if defined(VANTREL_SANITIZE_BUILD) || defined(__SANITIZE_THREAD__)
    return false;  // the sanitizers' allocators and shadow memory inflate the peak
#else
    return true;
#endif
}

// Runs `call` on a thread of its own and waits at most HANG_LIMIT for it. A call that hangs
// fails the test and ends the process at once: its thread cannot be ended from outside, and
// waiting for it would hang the test instead.
void endsInTime(const std::string& what, std::function<void()> call) {
    std::packaged_task<void()> task(std::move(call));
    std::future<void> done = task.get_future();
    std::thread running(std::move(task));
    if (done.wait_for(HANG_LIMIT) != std::future_status::ready) {
        ADD_FAILURE() << what << ": the call hangs";
        std::fprintf(stderr, "%s: the call hangs; ending the test process\n", what.c_str());
        std::fflush(nullptr);
        std::_Exit(1);
    }
    running.join();
}

// ------------------------------------------------------------------ the sound server after

const char* const OPENING = "/Volume 1/Feature Film/Vault/Main/Reel 1/Opening";  // 4 frames

// A sound vantreld on a sample tree, shared by the tests of this file.
class SoundServer {
public:
    static SoundServer& instance() {
        static SoundServer server;
        return server;
    }
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }
    int port() const { return port_; }
    const std::string& startError() const { return error_; }

private:
    SoundServer() {
        vantreld::testing::VantreldProcess init({"--init-sample", dir_ / "tree"});
        if (init.waitForExit(20000) != 0) {
            error_ = "cannot make the sample tree";
            return;
        }
        process_.reset(new vantreld::testing::VantreldProcess(
            {"--port", "0", "--frame-port", "0", "--no-sync", dir_ / "tree"}));
        port_ = process_->waitUntilReady();
        if (port_ <= 0) error_ = "vantreld did not start";
    }
    client_testing::TempDir dir_;
    std::unique_ptr<vantreld::testing::VantreldProcess> process_;
    int port_ = -1;
    std::string error_;
};

// Lists, reads a frame and its metadata from the sound server: the library still works.
void expectSoundServerWorks() {
    SoundServer& sound = SoundServer::instance();
    ASSERT_EQ(sound.startError(), "");
    VantrelServerHandle server(sound.id().c_str());
    VantrelNodeHandle clip;
    ASSERT_TRUE(VantrelResolveDisplayPath(server, OPENING, clip)) << server.lastError();
    int frames = 0;
    ASSERT_TRUE(clip.getNumFrames(frames)) << clip.lastError();
    EXPECT_EQ(frames, 4);
    VantrelClipFormat format;
    ASSERT_TRUE(clip.getClipFormat(format)) << clip.lastError();
    std::vector<char> buffer(static_cast<size_t>(format.frameBufferSize()));
    EXPECT_TRUE(clip.readFrame(0, buffer.data(), static_cast<int>(buffer.size()), true))
        << clip.lastError();
}

// ------------------------------------------------------------------------- the fixture

class HostilePeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(library_.init());
        ASSERT_TRUE(hostile_.ok());
        VantrelClientSetCallTimeout(GENEROUS_TIMEOUT_MS);
    }
    void TearDown() override { VantrelClientSetCallTimeout(0); }

    // Checks one case: `call` must end within HANG_LIMIT, return false with a last error that
    // holds `error` (or return true when `error` is null: the answer is tolerated), and keep
    // the growth of peak memory within `cap`.
    void expectCase(const std::string& name, const std::function<bool(std::string&)>& call,
                    const char* error, size_t cap) {
        SCOPED_TRACE(name);
        PeakMemory memory;
        bool ok = false;
        std::string lastError;
        endsInTime(name, [&] { ok = call(lastError); });
        const size_t growth = memory.growth();
        if (error == nullptr) {
            EXPECT_TRUE(ok) << lastError;
        } else {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(lastError.empty()) << "a failure without a text";
            EXPECT_NE(lastError.find(error), std::string::npos)
                << "'" << lastError.substr(0, 300) << "' lacks '" << error << "'";
        }
        if (memoryIsMeasured()) {
            EXPECT_LE(growth, cap) << "peak memory grew by " << growth / MiB << " MiB";
        }
    }

    // Made before the library starts its threads, which post messages.
    vantrel_testing::DebugLog log_;
    VantrelClient library_;
    HostileServer hostile_;
};

// A reply line of `value` with a huge run of `pattern` in it, never held whole by the peer.
Bytes hugeLine(const std::string& head, size_t bytes, const std::string& pattern,
               const std::string& tail = "\n") {
    Bytes reply;
    reply.head = head;
    reply.fillBytes = bytes;
    reply.fillPattern = pattern;
    reply.tail = tail;
    return reply;
}

Bytes line(const std::string& bytes) {
    Bytes reply;
    reply.head = bytes;
    return reply;
}

Bytes truncated(const std::string& bytes) {
    Bytes reply = line(bytes);
    reply.close = true;
    return reply;
}

Bytes slow(const std::string& bytes, int pauseMs) {
    Bytes reply = line(bytes);
    reply.piece = 1;
    reply.pauseMs = pauseMs;
    return reply;
}

Bytes silent() {
    Bytes reply;
    reply.silent = true;
    return reply;
}

// Record of a server of an older protocol, whose node requests use the text forms.
std::string olderRecord(const HostileServer& server) {
    std::string record = server.daemonRecord();
    const std::string newer = attribute("VersionMajor", "2015");
    record.replace(record.find(newer), newer.size(), attribute("VersionMajor", "2011"));
    return record;
}

// ------------------------------------------------------------------------ node port

struct NodeCase {
    const char* name;
    const char* method;
    Bytes reply;
    // The call through the public handles.
    std::function<bool(VantrelServerHandle&)> call;
    const char* error;  // null: tolerated
    size_t cap;
    bool older = false;  // the server plays an older protocol (text forms)
};

bool rootNode(VantrelServerHandle& server) {
    VantrelNodeHandle root;
    return server.getRootNode(root);
}

bool serverInfo(VantrelServerHandle& server) {
    VantrelServerInfo info;
    return server.getInfo(info) && server.ping(CALL_TIMEOUT_MS);
}

bool children(VantrelServerHandle& server) {
    int count = 0;
    return VantrelNodeHandle(server, "6").getNumChildren(count);
}

bool frames(VantrelServerHandle& server) {
    int count = 0;
    return VantrelNodeHandle(server, "6").getNumFrames(count);
}

bool framePaths(VantrelServerHandle& server) {
    VantrelStr path;
    return VantrelNodeHandle(server, "6").getFrameIdPath(0, path);
}

bool clipFormat(VantrelServerHandle& server) {
    VantrelClipFormat format;
    return VantrelNodeHandle(server, "6").getClipFormat(format);
}

bool hostTranslations(VantrelServerHandle& server) {
    int count = 0;
    return server.getNumHostTranslations(count) && count <= VantrelBaseClientAPI::MAX_TABLE_ROWS;
}

bool translationGroups(VantrelServerHandle& server) {
    int count = 0;
    VantrelServerHandle::TranslationGroup group;
    return server.getNumTranslationGroups(count) &&
           (count == 0 || server.getTranslationGroup(count - 1, group)) &&
           count <= VantrelBaseClientAPI::MAX_TABLE_ROWS;
}

// `call` on `server`, with the server's last error into `error`.
std::function<bool(std::string&)> throughHandle(
    VantrelServerHandle& server, const std::function<bool(VantrelServerHandle&)>& call) {
    return [&server, call](std::string& error) {
        const bool ok = call(server);
        error = server.lastError();
        return ok;
    };
}

const char* const TOO_LONG = "Reply line longer than";
const char* const TIMED_OUT = "timed out";

std::vector<NodeCase> nodeCases() {
    const std::string child = attribute("Id", "8") + attribute("Displ", "Shot");
    return {
        // Reply lines.
        {"reply line past the limit", "GetRootNode", hugeLine("ok ", LINE_LIMIT + MiB, "a"),
         rootNode, TOO_LONG, LONG_LINE_CAP},
        {"reply line cut off", "GetRootNode", truncated("ok 12"), rootNode, "", SMALL_ANSWER_CAP},
        {"reply line byte by byte", "GetRootNode", slow("ok 12\n", 150), rootNode, TIMED_OUT,
         SMALL_ANSWER_CAP},
        {"no reply at all", "GetRootNode", silent(), rootNode, TIMED_OUT, SMALL_ANSWER_CAP},
        {"status word only", "GetRootNode", line("fine\n"), rootNode,
         "The server answered 'fine' without a reason.", SMALL_ANSWER_CAP},
        {"value with bytes after a NUL", "GetRootNode",
         line(std::string("ok 12") + '\0' + "\xff\x01 rest\n"), rootNode, nullptr, SMALL_ANSWER_CAP},
        // The login.
        {"login refused", "_login", line(errorLine("Not welcome here")), rootNode,
         "Not welcome here", SMALL_ANSWER_CAP},
        {"login never answered", "_login", silent(), rootNode, TIMED_OUT, SMALL_ANSWER_CAP},
        // The server record.
        {"server record never answered", "GetDaemonInfo", silent(), serverInfo, TIMED_OUT,
         SMALL_ANSWER_CAP},
        {"server record past the limit", "GetDaemonInfo",
         hugeLine("ok IP0 9 127.0.0.1", LINE_LIMIT + MiB, "IP1 1 x"), serverInfo, TOO_LONG,
         LONG_LINE_CAP},
        {"server record of lengths past the end", "GetDaemonInfo",
         line("ok NodePort 2147483648 1IP0 4294967295 x\n"), serverInfo, nullptr,
         SMALL_ANSWER_CAP},
        {"server record of 100,000 addresses", "GetDaemonInfo",
         hugeLine("ok ", 1300000, "IP99999 1 x"), serverInfo, nullptr, SMALL_ANSWER_CAP},
        // Children lists, both forms.
        {"children stream announcing 2^31 bytes", "GetChildrenEx",
         line("ok 0 2147483648 " + child + "\n"), children, "Invalid children list",
         SMALL_ANSWER_CAP},
        {"children stream without ids", "GetChildrenEx",
         line(okLine(attribute("0", attribute("Displ", "x")))), children,
         "Invalid children list", SMALL_ANSWER_CAP},
        {"children stream past the limit", "GetChildrenEx",
         hugeLine("ok ", LINE_LIMIT + MiB, attribute("0", child)), children, TOO_LONG,
         LONG_LINE_CAP},
        {"children text cut off", "GetChildren", truncated("ok 8,Shot,9"), children, "",
         SMALL_ANSWER_CAP, true},
        {"children text of one id", "GetChildren", line("ok 8\n"), children, nullptr,
         SMALL_ANSWER_CAP, true},
        // Counted lists.
        {"frame list announcing 2^31 items", "GetFramesEx", line("ok 2147483648 1 a\n"), frames,
         "Invalid frame list", SMALL_ANSWER_CAP},
        {"frame list of an item past the end", "GetFramesEx", line("ok 1 4294967296 ab\n"),
         frames, "Invalid frame list", SMALL_ANSWER_CAP},
        {"frame list of fewer items than announced", "GetFramesEx",
         hugeLine("ok 200000 ", 300000, "1 a"), frames, "Invalid frame list", SMALL_ANSWER_CAP},
        {"path list announcing 2^31 - 1 items", "GetFramePathsEx", line("ok 2147483647 \n"),
         framePaths, "Invalid file list", SMALL_ANSWER_CAP},
        // Sound lists of the smallest items: the most items a reply's bytes can hold.
        {"frame list of 349,525 one-byte ids", "GetFramesEx",
         hugeLine("ok 349525 ", 3 * 349525, "1 a"), frames, nullptr, listCap(3 * 349525)},
        {"children text of 1 MiB of commas", "GetChildren", hugeLine("ok ", MiB, ","), children,
         nullptr, listCap(MiB), true},
        // Clip formats.
        {"clip format of three numbers", "GetClipFormat", line("ok 1 2 3\n"), clipFormat,
         "Invalid clip format", SMALL_ANSWER_CAP},
        {"clip format with a tag of 256 KiB", "GetClipFormat",
         hugeLine("ok 8 4 24 3 96 1 24 ", 256 * 1024, "r", " 4 xml meta\n"), clipFormat,
         "Invalid clip format", SMALL_ANSWER_CAP},
        {"clip format of extreme numbers", "GetClipFormat",
         line("ok -2147483648 99999999999 -1 2147483647 -5 nan -inf rgb -7 xml m\n"),
         clipFormat, nullptr, SMALL_ANSWER_CAP},
        // Translation tables.
        {"host translations announcing 2^31 - 1 rows", "GetHostTranslations",
         line(okLine(attribute("numHostTranslations", "2147483647"))), hostTranslations,
         nullptr, SMALL_ANSWER_CAP},
        {"host translations of 65,536 missing rows in 1 MiB", "GetHostTranslations",
         hugeLine("ok " + attribute("numHostTranslations", "65536"), MiB, "a 0 "),
         hostTranslations, nullptr, SMALL_ANSWER_CAP},
        {"translation group of lengths past the end", "GetTranslationGroups",
         line("ok numGroups 1 10 9 99999999999 g\n"), translationGroups, nullptr,
         SMALL_ANSWER_CAP},
    };
}

TEST_F(HostilePeerTest, NodePortAnswersFailClearlyWithinTheirCaps) {
    for (NodeCase& c : nodeCases()) {
        hostile_.answer("GetDaemonInfo",
                        line(okLine(c.older ? olderRecord(hostile_) : hostile_.daemonRecord())));
        hostile_.answer(c.method, c.reply);
        const bool aboutTime = c.error == TIMED_OUT;  // the cases of slow and silent peers
        VantrelClientSetCallTimeout(aboutTime ? CALL_TIMEOUT_MS : GENEROUS_TIMEOUT_MS);
        {
            VantrelServerHandle server(hostile_.serverId().c_str());
            expectCase(c.name, throughHandle(server, c.call), c.error, c.cap);
        }
        hostile_.forgetAnswers();
        VantrelClientReleaseUnusedConnections(true);  // the next case's record is read afresh
    }
    expectSoundServerWorks();
}

// ------------------------------------------------------------------------ frame port

struct FrameCase {
    const char* name;
    Bytes reply;
    // The call through the server handle.
    std::function<bool(VantrelServerHandle&)> call;
    const char* error;
};

bool readFrame(VantrelServerHandle& server) {
    char buffer[64];
    return server.readFrame("f1", buffer, sizeof buffer);
}

bool readAhead(VantrelServerHandle& server) {
    return server.readFrame(nullptr, nullptr, 0, "f1");
}

bool readStream(VantrelServerHandle& server) {
    char buffer[16];
    int count = 4;
    return server.readStream("s1", buffer, sizeof buffer, 0, 4, count);
}

std::string withNul(const std::string& text) { return std::string(text.c_str(), text.size() + 1); }

TEST_F(HostilePeerTest, FramePortAnswersFailClearlyWithinTheirCaps) {
    const std::string ok = withNul("");
    const std::vector<FrameCase> cases = {
        {"status without its end", hugeLine("", MiB, "e", ""), readFrame, "eeee"},
        {"status with an error", line(withNul("disk on fire")), readFrame, "disk on fire"},
        {"frame cut off", truncated(ok + "0123456789"), readFrame, "Connection"},
        {"number without its end", line(ok + std::string(100, '7')), readStream,
         "Invalid number reply"},
        {"stream count of 2^31", line(ok + withNul("2147483648")), readStream,
         "Invalid stream unit count: 2147483648"},
        {"stream count past the buffer", line(ok + withNul("1000000")), readStream,
         "Buffer too small."},
        {"stream cut off", truncated(ok + withNul("2") + "abc"), readStream, "Connection"},
        {"redirect record of 2^31 bytes", line(withNul("2147483648")), readAhead,
         "Invalid redirect record size: 2147483648"},
        {"redirect record cut off", truncated(withNul("100") + "IP0 1 x"), readAhead,
         "Connection"},
    };
    for (const FrameCase& c : cases) {
        hostile_.answerFrames(c.reply);
        VantrelServerHandle server(hostile_.serverId().c_str());
        expectCase(c.name, throughHandle(server, c.call), c.error, SMALL_ANSWER_CAP);
    }
    expectSoundServerWorks();
}

// The frame port has no call time limit: a stalled transfer ends with stop() from another
// thread.
TEST_F(HostilePeerTest, AStalledFrameTransferEndsWithStop) {
    const std::vector<std::pair<const char*, Bytes>> stalls = {
        {"nothing", silent()},
        {"a frame byte by byte", slow(withNul("") + std::string(64, 'f'), 100)},
    };
    for (const auto& stall : stalls) {
        SCOPED_TRACE(stall.first);
        hostile_.answerFrames(stall.second);
        VantrelServerHandle server(hostile_.serverId().c_str());
        ASSERT_TRUE(server.ping(CALL_TIMEOUT_MS)) << server.lastError();
        bool read = true;
        std::atomic<bool> done{false};
        std::thread stopper([&] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                server.stop("stopped by the test");
            }
        });
        endsInTime(stall.first, [&] { read = readFrame(server); });
        done = true;
        stopper.join();
        EXPECT_FALSE(read);
        EXPECT_STRNE(server.lastError(), "");
    }
    expectSoundServerWorks();
}

// ---------------------------------------------------------------------- event monitor

// The login record of the hostile peer: a record whose checksum holds.
const char* const LOGIN_RECORD =
    "StrUserName 3 abcStrPassword 0 StrProcessName 1 pIntProcessId 1 1StrHostName 3 abc"
    "StrIpAddr 3 abcIntSerial 1 0IntTimestamp 1 0IntCRC 10 1243713848";

std::string nodeEvent(const std::string& object, const std::string& stream) {
    return "sync " + object + " NodeEvent " + hostile::escape(stream) + "\n";
}

// The connection number the last registration `server` received announced ("" when none).
std::string announcedConnection(const HostileServer& server) {
    std::string object;
    for (const std::string& request : server.requests()) {
        const size_t at = request.find("Connection ");
        if (request.find(" RegisterEvents ") == std::string::npos || at == std::string::npos)
            continue;
        const size_t length = std::stoul(request.substr(at + 11));
        object = request.substr(request.find(' ', at + 11) + 1, length);
    }
    return object;
}

void acceptRegistrations(HostileServer& server) {
    server.answer("RegisterEvents", line(okLine("")));
    server.answer("UnregisterEvents", line(okLine("")));
}

const std::string SOUND_EVENT = attribute("NodeId", "7") + attribute("Type", "Renamed") +
                                attribute("Details", attribute("Displ", "x"));

TEST_F(HostilePeerTest, EventMonitorAnswersHostileNodeEventsAndStaysUsable) {
    acceptRegistrations(hostile_);
    VantrelServerHandle server(hostile_.serverId().c_str());
    client_testing::RecordingHandler handler;
    ASSERT_TRUE(server.registerEventHandler(VantrelNodeId("7"), &handler)) << server.lastError();
    const int monitorPort = VantrelEventMonitor::instance()->port();
    const std::string object = announcedConnection(hostile_);
    ASSERT_FALSE(object.empty());
    const std::string& sound = SOUND_EVENT;

    const struct {
        const char* name;
        Bytes bytes;
        const char* reply;  // the reply line's start; null: the connection is closed
    } cases[] = {
        {"garbage", line(nodeEvent(object, "garbage")), "error Missing 'NodeId' parameter"},
        {"no details", line(nodeEvent(object, attribute("NodeId", "7") + attribute("Type", "x"))),
         "error Missing 'Details' parameter"},
        {"lengths past the end",
         line(nodeEvent(object, "NodeId 2147483648 7Type 4294967296 xDetails 9 ")),
         "error Missing"},
        {"unknown object", line(nodeEvent("999", sound)), "error Invalid Object: 999"},
        {"object that is no number", line(nodeEvent("abc", sound)), "error"},
        {"no method", line("sync " + object + "\n"), "error"},
        {"line past the limit", hugeLine("sync " + object + " NodeEvent ", LINE_LIMIT + MiB, "z"),
         nullptr},
        {"event byte by byte", slow(nodeEvent(object, sound), 1), "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PeakMemory memory;
        HostilePeer peer(monitorPort);
        ASSERT_TRUE(peer.send(line("sync 0 _login " + std::string(LOGIN_RECORD) + "\n")));
        std::string reply;
        ASSERT_TRUE(peer.readLine(reply, 10000));
        ASSERT_EQ(reply, "ok ");
        peer.send(c.bytes);
        if (c.reply == nullptr) {
            EXPECT_TRUE(peer.closedWithin(10000));
        } else {
            ASSERT_TRUE(peer.readLine(reply, 10000));
            EXPECT_EQ(reply.compare(0, std::strlen(c.reply), c.reply), 0) << reply;
        }
        if (memoryIsMeasured()) {
            EXPECT_LE(memory.growth(), c.reply == nullptr ? LONG_LINE_CAP : SMALL_ANSWER_CAP);
        }
    }
    // Only the one sound event reached the handler.
    ASSERT_TRUE(handler.waitFor(1));
    EXPECT_EQ(handler.seen().size(), 1u);
    EXPECT_TRUE(server.unregisterEventHandler(VantrelNodeId("7"), &handler));
    expectSoundServerWorks();

    // Events of a sound vantreld still arrive.
    VantrelServerHandle soundServer(SoundServer::instance().id().c_str());
    VantrelNodeHandle clip;
    ASSERT_TRUE(VantrelResolveDisplayPath(soundServer, OPENING, clip)) << soundServer.lastError();
    client_testing::RecordingHandler soundHandler;
    ASSERT_TRUE(soundServer.registerEventHandler(clip.getNodeId(), &soundHandler))
        << soundServer.lastError();
    ASSERT_TRUE(clip.setMetaData("comments", "after the hostile peers")) << clip.lastError();
    ASSERT_TRUE(soundHandler.waitFor(1));
    EXPECT_EQ(soundHandler.seen()[0].type, "MetaDataChanged");
    EXPECT_TRUE(soundServer.unregisterEventHandler(clip.getNodeId(), &soundHandler));
}

// Only the servers this process registered with reach the event monitor, and each only for
// its own event connections: a connection number alone (they count from 1) is not enough.
TEST_F(HostilePeerTest, EventMonitorServesOnlyTheServersRegisteredWith) {
    HostileServer other("127.0.0.2");
    ASSERT_TRUE(other.ok());
    acceptRegistrations(hostile_);
    acceptRegistrations(other);
    VantrelServerHandle server(hostile_.serverId().c_str());
    VantrelServerHandle otherServer(other.serverId().c_str());
    client_testing::RecordingHandler handler, otherHandler;
    ASSERT_TRUE(server.registerEventHandler(VantrelNodeId("7"), &handler)) << server.lastError();
    ASSERT_TRUE(otherServer.registerEventHandler(VantrelNodeId("7"), &otherHandler))
        << otherServer.lastError();
    const std::string object = announcedConnection(hostile_);
    const std::string otherObject = announcedConnection(other);
    ASSERT_FALSE(object.empty());
    ASSERT_FALSE(otherObject.empty());
    const struct {
        const char* name;
        const char* from;
        std::string object;
        const char* reply;  // the reply line's start; null: closed without a login
    } cases[] = {
        {"a stranger", "127.0.0.9", object, nullptr},
        {"another server, for this server's connection", "127.0.0.2", object,
         "error Not the server of this event connection"},
        {"the server", "127.0.0.1", object, "ok"},
        {"the other server, for its own connection", "127.0.0.2", otherObject, "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostilePeer peer(VantrelEventMonitor::instance()->port(), c.from);
        ASSERT_TRUE(peer.connected());
        peer.send(line("sync 0 _login " + std::string(LOGIN_RECORD) + "\n" +
                       nodeEvent(c.object, SOUND_EVENT)));
        std::string reply;
        if (c.reply == nullptr) {
            EXPECT_TRUE(peer.closedWithin(10000));
            continue;
        }
        ASSERT_TRUE(peer.readLine(reply, 10000));
        ASSERT_EQ(reply, "ok ");
        ASSERT_TRUE(peer.readLine(reply, 10000));
        EXPECT_EQ(reply.compare(0, std::strlen(c.reply), c.reply), 0) << reply;
    }
    ASSERT_TRUE(handler.waitFor(1));
    ASSERT_TRUE(otherHandler.waitFor(1));
    EXPECT_EQ(handler.seen().size(), 1u);
    EXPECT_EQ(otherHandler.seen().size(), 1u);
    EXPECT_TRUE(server.unregisterEventHandler(VantrelNodeId("7"), &handler));
    EXPECT_TRUE(otherServer.unregisterEventHandler(VantrelNodeId("7"), &otherHandler));
}

// A library of its own whose event monitor runs with `limits`, registered for node 7 of a
// hostile server that accepts registrations: peers from loopback are then that server.
class LimitedMonitor {
public:
    explicit LimitedMonitor(const VantrelEventMonitor::Limits& limits) {
        VantrelEventMonitor::setLimits(limits);
        started_ = library_.init();
        acceptRegistrations(hostile_);
        server_.reset(new VantrelServerHandle(hostile_.serverId().c_str()));
        registered_ = started_ && server_->registerEventHandler(VantrelNodeId("7"), &handler_);
    }
    ~LimitedMonitor() {
        if (registered_) server_->unregisterEventHandler(VantrelNodeId("7"), &handler_);
        server_.reset();
        VantrelEventMonitor::setLimits(VantrelEventMonitor::Limits());
    }
    bool ready() const { return registered_; }
    int port() const { return VantrelEventMonitor::instance()->port(); }

private:
    VantrelClient library_;
    HostileServer hostile_;
    std::unique_ptr<VantrelServerHandle> server_;
    client_testing::RecordingHandler handler_;
    bool started_ = false, registered_ = false;
};

std::string loginLine() { return "sync 0 _login " + std::string(LOGIN_RECORD) + "\n"; }

// A peer, even from a server's address, holds little: a login line is short, and the number
// of connections is capped.
TEST(EventMonitorLimits, LoginLinesAndConnectionsAreCapped) {
    VantrelEventMonitor::Limits limits;
    limits.connections = 8;
    LimitedMonitor monitor(limits);
    ASSERT_TRUE(monitor.ready());
    {
        PeakMemory memory;
        HostilePeer peer(monitor.port());
        peer.send(hugeLine("sync 0 _login ", 8 * MiB, "a", ""));
        EXPECT_TRUE(peer.closedWithin(10000));
        if (memoryIsMeasured()) {
            EXPECT_LE(memory.growth(), SMALL_ANSWER_CAP);
        }
    }
    std::vector<std::unique_ptr<HostilePeer>> peers;
    for (size_t i = 0; i < limits.connections; ++i) {
        peers.emplace_back(new HostilePeer(monitor.port()));
        std::string reply;
        ASSERT_TRUE(peers.back()->send(line(loginLine())));
        ASSERT_TRUE(peers.back()->readLine(reply, 10000));  // accepted and served
    }
    HostilePeer oneTooMany(monitor.port());
    EXPECT_TRUE(oneTooMany.closedWithin(10000));
    peers.pop_back();  // a place comes free
    HostilePeer next(monitor.port());
    std::string reply;
    ASSERT_TRUE(next.send(line(loginLine())));
    EXPECT_TRUE(next.readLine(reply, 10000));
    EXPECT_EQ(reply, "ok ");
}

// Connections that stay silent, before their login or after it, are closed.
TEST(EventMonitorLimits, SilentConnectionsAreClosed) {
    VantrelEventMonitor::Limits limits;
    limits.loginTimeoutMs = 300;
    limits.idleTimeoutMs = 300;
    LimitedMonitor monitor(limits);
    ASSERT_TRUE(monitor.ready());
    HostilePeer silent(monitor.port()), loggedIn(monitor.port());
    std::string reply;
    ASSERT_TRUE(loggedIn.send(line(loginLine())));
    ASSERT_TRUE(loggedIn.readLine(reply, 10000));
    EXPECT_TRUE(silent.closedWithin(20000));
    EXPECT_TRUE(loggedIn.closedWithin(20000));
}

// --------------------------------------------------------------------------- discovery

std::string datagram(const std::string& version, const std::string& type,
                     const std::string& data) {
    return attribute("Version", version) + attribute("Type", type) + attribute("Data", data);
}

// How many listed servers have the node port `port`.
int listedAt(const std::vector<VantrelDaemonInfo>& servers, int port) {
    int count = 0;
    for (const VantrelDaemonInfo& server : servers) count += server.getNodePort() == port;
    return count;
}

// A discovery client of its own (on a group port nobody else uses) searches a hostile peer,
// which answers with malformed datagrams or names a server whose list ("GetDaemonList") is
// malformed; then it finds a sound vantreld through the same peer.
TEST_F(HostilePeerTest, DiscoveryDropsHostileDatagramsAndServerListsWithinTheirCaps) {
    vantrel_testing::DebugLog& log = log_;
    HostileDatagrams responder;
    ASSERT_TRUE(responder.ok());
    SoundServer& sound = SoundServer::instance();
    ASSERT_EQ(sound.startError(), "");
    VantrelMulticastClient discovery(static_cast<unsigned>(client_testing::freeLoopbackPort()),
                                     VantrelMulticastClient::DEFAULT_SCOPE, 1);
    const std::string reply = std::to_string(static_cast<int>(VantrelDiscoveryPacket::DISCOVER_SERVERS_REPLY));
    const std::string hostileRecord = hostile_.daemonRecord();
    const struct {
        const char* name;
        std::vector<std::string> datagrams;
        Bytes serverList;
        int hostileListed;  // servers listed at the hostile server's node port
        const char* logged;
        size_t cap;
    } cases[] = {
        {"garbage", {"\x01\x02 no stream"}, {}, 0, "Invalid/Corrupted packet", SMALL_ANSWER_CAP},
        {"version 0", {datagram("0", reply, hostileRecord)}, {}, 0,
         "Request's version is incompatible: 0", SMALL_ANSWER_CAP},
        {"unknown type", {datagram("1", "99", hostileRecord)}, {}, 0, "Unknown request type: 99",
         SMALL_ANSWER_CAP},
        {"data past the end", {"Version 1 1Type 2 72Data 2147483648 IP0 1 x"}, {}, 0,
         "Request is lacking data", SMALL_ANSWER_CAP},
        {"60 KiB datagram", {std::string(60000, 'V')}, {}, 0, "Invalid/Corrupted packet",
         SMALL_ANSWER_CAP},
        {"server list announcing 2^31 - 1 records", {datagram("1", reply, hostileRecord)},
         line(okLine(attribute("Count", "2147483647"))), 1, "Stream is missing nodes 0 to",
         SMALL_ANSWER_CAP},
        {"server list of 2^31 - 1 missing records among 1 MiB of attributes",
         {datagram("1", reply, hostileRecord)},
         hugeLine("ok " + attribute("Count", "2147483647"), MiB, "a 0 "), 1,
         "Stream is missing nodes 0 to", SMALL_ANSWER_CAP},
        {"server list of records past the end", {datagram("1", reply, hostileRecord)},
         line(okLine(attribute("Count", "2") + "Node0 99999999 IP0")), 1,
         "Stream is missing node 1 of 2.", SMALL_ANSWER_CAP},
        {"server list past the line limit", {datagram("1", reply, hostileRecord)},
         hugeLine("ok ", LINE_LIMIT + MiB, "Node0 1 x"), 1, "Could not fetch servers list",
         LONG_LINE_CAP},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        responder.answer(c.datagrams);
        hostile_.answer("GetDaemonList", c.serverList);
        const int loggedBefore = log.count(c.logged);
        PeakMemory memory;
        std::vector<VantrelDaemonInfo> found;
        discovery.findServers(found, nullptr, "127.0.0.1", static_cast<unsigned>(responder.port()));
        EXPECT_EQ(listedAt(found, hostile_.port()), c.hostileListed);
        EXPECT_GT(log.count(c.logged), loggedBefore);
        if (memoryIsMeasured()) {
            EXPECT_LE(memory.growth(), c.cap);
        }
    }
    // The list is asked for with an empty argument: nothing after the method's blank.
    int listRequests = 0;
    for (const std::string& request : hostile_.requests()) {
        if (request.find(" GetDaemonList") == std::string::npos) continue;
        EXPECT_EQ(request, "sync 0 GetDaemonList ");
        ++listRequests;
    }
    EXPECT_GT(listRequests, 0);
    // A sound answer naming vantreld: its list is fetched and the server is found.
    const std::string soundRecord = attribute("IP0", "127.0.0.1") +
                                    attribute("NodePort", std::to_string(sound.port())) +
                                    attribute("VersionMajor", "2015");
    responder.answer({datagram("1", reply, soundRecord)});
    std::vector<VantrelDaemonInfo> found;
    discovery.findServers(found, nullptr, "127.0.0.1", static_cast<unsigned>(responder.port()));
    EXPECT_GE(listedAt(found, sound.port()), 1);
    expectSoundServerWorks();
}

// Announcements on the multicast group reach the process's own discovery client: malformed
// ones are dropped with a clear log line, a sound one after them is listed.
TEST_F(HostilePeerTest, DiscoveryDropsHostileAnnouncementsOnTheGroup) {
    vantrel_testing::DebugLog& log = log_;
    HostileDatagrams announcer;
    ASSERT_TRUE(announcer.ok());
    VantrelMulticastClient& discovery = VantrelMulticastClient::getInstance();
    const int group = static_cast<int>(discovery.getPort());
    const std::string announce =
        std::to_string(static_cast<int>(VantrelDiscoveryPacket::DISCOVER_SERVERS));
    const struct {
        const char* name;
        std::string datagram;
        const char* logged;
    } cases[] = {
        {"garbage", "\xff\xfe no stream at all", "Invalid/Corrupted packet"},
        {"version 0", datagram("0", announce, hostile_.daemonRecord()),
         "Request's version is incompatible: 0"},
        {"data past the end", "Version 1 1Type 2 71Data 4294967296 IP0 1 x",
         "Request is lacking data"},
        {"60 KiB", std::string(60000, '7'), "Invalid/Corrupted packet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = log.count(c.logged);
        ASSERT_TRUE(announcer.sendTo(discovery.getScope(), group, c.datagram));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (log.count(c.logged) == before && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_GT(log.count(c.logged), before);
    }
    const std::string record = attribute("IP0", "127.0.0.1") +
                               attribute("NodePort", std::to_string(hostile_.port())) +
                               attribute("VersionMajor", "2015");
    ASSERT_TRUE(announcer.sendTo(discovery.getScope(), group, datagram("1", announce, record)));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<VantrelDaemonInfo> listed;
    while (listedAt(listed, hostile_.port()) == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        discovery.findServers(listed, nullptr, nullptr, 0);
    }
    EXPECT_EQ(listedAt(listed, hostile_.port()), 1);
    expectSoundServerWorks();
}

// The node port of the listed server with `storageId`, or 0 when none is listed.
int listedNodePort(VantrelMulticastClient& discovery, const std::string& storageId) {
    for (const VantrelDaemonInfo& server : discovery.servers().copy(nullptr))
        if (storageId == server.getStorageId()) return server.getNodePort();
    return 0;
}

// Waits at most 10 s for `done`.
bool within10s(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
}

// A stranger announcing a known server's storage id with an address of its own neither moves
// nor removes the listed server.
TEST_F(HostilePeerTest, SpoofedAnnouncementsLeaveAKnownServerInPlace) {
    vantrel_testing::DebugLog& log = log_;
    const int debugLevel = VantrelKnownServers::debugLevel();
    VantrelKnownServers::setDebugLevel(1);  // refusals are posted from level 1
    HostileDatagrams genuine, stranger("127.0.0.2");
    ASSERT_TRUE(genuine.ok());
    ASSERT_TRUE(stranger.ok());
    VantrelMulticastClient& discovery = VantrelMulticastClient::getInstance();
    const int group = static_cast<int>(discovery.getPort());
    const std::string storageId = "spoof-target";
    const auto record = [&](const char* address, const char* port) {
        return attribute("StorageId", storageId) + attribute("IP0", address) +
               attribute("NodePort", port) + attribute("VersionMajor", "2015");
    };
    const auto type = [](VantrelDiscoveryPacket::Type t) { return std::to_string(static_cast<int>(t)); };
    ASSERT_TRUE(genuine.sendTo(discovery.getScope(), group,
                               datagram("1", type(VantrelDiscoveryPacket::DISCOVER_SERVERS),
                                        record("127.0.0.1", "1111"))));
    ASSERT_TRUE(within10s([&] { return listedNodePort(discovery, storageId) == 1111; }));
    for (VantrelDiscoveryPacket::Type spoof :
         {VantrelDiscoveryPacket::DISCOVER_SERVERS, VantrelDiscoveryPacket::REMOVE_SERVER}) {
        SCOPED_TRACE(type(spoof));
        const char* const refused = "not an address of the listed server";
        const int before = log.count(refused);
        ASSERT_TRUE(stranger.sendTo(discovery.getScope(), group,
                                    datagram("1", type(spoof), record("127.0.0.2", "2222"))));
        EXPECT_TRUE(within10s([&] { return log.count(refused) > before; }));
        EXPECT_EQ(listedNodePort(discovery, storageId), 1111);
    }
    VantrelKnownServers::setDebugLevel(debugLevel);
}

// A flood of announcements with ever new storage ids from one address: the list stays within
// its bound for that address, and a genuine server announcing meanwhile is found.
TEST_F(HostilePeerTest, AnnouncementFloodLeavesRoomForGenuineServers) {
    HostileDatagrams genuine, flooder("127.0.0.2");
    ASSERT_TRUE(genuine.ok());
    ASSERT_TRUE(flooder.ok());
    VantrelMulticastClient& discovery = VantrelMulticastClient::getInstance();
    const int group = static_cast<int>(discovery.getPort());
    const std::string announce =
        std::to_string(static_cast<int>(VantrelDiscoveryPacket::DISCOVER_SERVERS));
    const auto record = [](const std::string& storageId, const char* address) {
        return attribute("StorageId", storageId) + attribute("IP0", address) +
               attribute("NodePort", "3333") + attribute("VersionMajor", "2015");
    };
    for (int i = 0; i < 20000; ++i)
        flooder.sendTo(discovery.getScope(), group,
                       datagram("1", announce, record("flood-" + std::to_string(i), "127.0.0.2")));
    // A genuine server announces again and again; some of its datagrams may be lost.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (listedNodePort(discovery, "genuine") != 3333 && std::chrono::steady_clock::now() < end) {
        genuine.sendTo(discovery.getScope(), group,
                       datagram("1", announce, record("genuine", "127.0.0.1")));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(listedNodePort(discovery, "genuine"), 3333);
    size_t flooded = 0;
    for (const VantrelDaemonInfo& server : discovery.servers().copy(nullptr))
        flooded += std::strncmp(server.getStorageId(), "flood-", 6) == 0;
    EXPECT_LE(flooded, VantrelKnownServers::MAX_PER_SENDER);
}

}  // namespace
