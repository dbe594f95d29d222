// Node events end to end: the client library and a real vantreld, with changes made by another
// thread through another handle, a server killed and restarted under a registered client.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "EventTestSupport.h"
#include "ServerHandleTestSupport.h"
#include "rcApi/rcAPI.h"
#include "rcApi/rcTestSupport.h"
#include "vantrel/VantrelClientAPI.h"
#include "vantrel/client/connection/VantrelClientTestSupport.h"
#include "vantrel/client/api/VantrelServerImp.h"

namespace {

using client_testing::RecordingHandler;
using client_testing::TempDir;
using client_testing::TestServer;
using vantrel_testing::ClientScope;

// Creates a volume under the root, renames it, writes its metadata and destroys it, through a
// handle of its own, on the calling thread. The volume's id, or "" on failure.
std::string changeAChild(const std::string& serverId) {
    VantrelServerHandle server(serverId.c_str());
    VantrelNodeHandle root, volume;
    if (!server.getRootNode(root) || !root.createNode("A", "VOLUME", volume) ||
        !volume.renameNode("B") || !volume.setMetaData("notes", "text"))
        return "";
    const std::string id = volume.getNodeId().id();
    return volume.destroyNode() ? id : "";
}

// The requests a trace file holds from `offset` on, each as "METHOD ARGS" (a trace line is
// TIME, tab, CLIENT, tab, METHOD ARGS, tab, RESULT).
std::vector<std::string> requestsFrom(const std::string& path, std::streamoff offset) {
    std::ifstream in(path);
    in.seekg(offset);
    std::vector<std::string> requests;
    for (std::string line; std::getline(in, line);) {
        const size_t first = line.find('\t');
        const size_t second = line.find('\t', first + 1);
        const size_t third = line.find('\t', second + 1);
        if (third != std::string::npos)
            requests.push_back(line.substr(second + 1, third - second - 1));
    }
    return requests;
}

std::streamoff sizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

}  // namespace

TEST(NodeEvents, ChangesMadeElsewhereReachTheHandlerInOrder) {
    TestServer server;
    ClientScope client;
    VantrelServerHandle watcher(server.id().c_str());
    VantrelNodeHandle root;
    ASSERT_TRUE(watcher.getRootNode(root)) << watcher.lastError();
    RecordingHandler handler;
    ASSERT_TRUE(watcher.registerEventHandler(root.getNodeId(), &handler)) << watcher.lastError();

    std::string changed;
    std::thread changer([&] { changed = changeAChild(server.id()); });
    changer.join();
    ASSERT_FALSE(changed.empty());
    ASSERT_TRUE(handler.waitFor(4));

    const std::vector<RecordingHandler::Seen> seen = handler.seen();
    ASSERT_EQ(4u, seen.size());
    const char* types[] = {"ChildCreated", "ChildRenamed", "ChildMetaDataChanged",
                           "ChildDestroyed"};
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(types[i], seen[i].type);
        EXPECT_EQ("host", seen[i].nodeId);
        EXPECT_TRUE(seen[i].onMonitorThread);
        VantrelStr child;
        EXPECT_TRUE(VantrelDictionary(seen[i].details.c_str()).getString("Child", child));
        EXPECT_STREQ(changed.c_str(), child.c_str());
    }
    VantrelStr name;
    EXPECT_TRUE(VantrelDictionary(seen[1].details.c_str()).getString("Name", name));
    EXPECT_STREQ("B", name.c_str());
    EXPECT_TRUE(watcher.unregisterEventHandler(root.getNodeId(), &handler));
}

// A server killed and started again on the same tree: the client's next call reconnects and
// registers again, once per node after one clearing call, and events flow again.
TEST(NodeEvents, RegistrationsAreReplayedAfterTheServerRestarts) {
    TempDir traceDir;
    const std::string trace = traceDir / "requests.log";
    TestServer server({"--trace", trace});
    ClientScope client;
    VantrelServerHandle watcher(server.id().c_str());
    VantrelNodeHandle root, volume;
    ASSERT_TRUE(watcher.getRootNode(root));
    ASSERT_TRUE(root.createNode("V", "VOLUME", volume)) << watcher.lastError();
    RecordingHandler onRoot, onVolume;
    ASSERT_TRUE(watcher.registerEventHandler(root.getNodeId(), &onRoot));
    ASSERT_TRUE(watcher.registerEventHandler(volume.getNodeId(), &onVolume));

    server.kill();
    const std::streamoff before = sizeOf(trace);
    ASSERT_TRUE(server.restart());
    ASSERT_TRUE(watcher.ping(5000)) << watcher.lastError();

    const int port = VantrelEventMonitor::instance()->port();
    const unsigned int id = watcher.imp()->events()->id();
    auto line = [&](const char* method, const std::string& subject) {
        return std::string(method) + " " + client_testing::registrationArgs(port, id, subject);
    };
    const std::vector<std::string> lines = requestsFrom(trace, before);
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), line("UnregisterEvents", "")));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), line("RegisterEvents", "host")));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(),
                            line("RegisterEvents", volume.getNodeId().id())));
    int registrations = 0;
    for (const std::string& l : lines) registrations += l.compare(0, 15, "RegisterEvents ") == 0;
    EXPECT_EQ(2, registrations);

    ASSERT_TRUE(volume.renameNode("W"));
    ASSERT_TRUE(onVolume.waitFor(1));
    ASSERT_TRUE(onRoot.waitFor(1));
    EXPECT_EQ("Renamed", onVolume.seen()[0].type);
    EXPECT_EQ("ChildRenamed", onRoot.seen()[0].type);
}

// A client that registered and then hung (its event port takes connections but never reads)
// neither stops the server serving node calls nor delays events to another client.
TEST(NodeEvents, AHungClientDelaysNobody) {
    TestServer server;
    ClientScope client;
    Vantrel::testing::PeerListener hung;
    Vantrel::rcAPI hungClient;
    ASSERT_TRUE(hungClient.connect("127.0.0.1", server.port(), 5000)) << hungClient.lastError();
    std::string reply;
    ASSERT_TRUE(hungClient.call(0, "RegisterEvents",
                                client_testing::registrationArgs(hung.port(), 1, "host").c_str(),
                                true, reply, 5000))
        << reply;

    VantrelServerHandle watcher(server.id().c_str());
    RecordingHandler handler;
    ASSERT_TRUE(watcher.registerEventHandler(VantrelNodeId("host"), &handler));
    VantrelNodeHandle root, volume;
    ASSERT_TRUE(watcher.getRootNode(root));
    for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(root.createNode(name, "VOLUME", volume));
    ASSERT_TRUE(handler.waitFor(3));
    int children = 0;
    EXPECT_TRUE(root.getNumChildren(children));
    EXPECT_EQ(3, children);
    EXPECT_EQ("ChildCreated", handler.seen()[2].type);
}
