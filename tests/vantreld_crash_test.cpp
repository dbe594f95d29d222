// vantreld killed (SIGKILL) in the middle of a burst of node creations, then restarted on the
// same tree: the tree loads, nothing half-written shows, and every creation the client saw
// acknowledged is there.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "VantreldProcess.h"
#include "rcApi/rcAPI.h"
#include "rcApi/rcAttrStream.h"
#include "vantrel/server/ServerFiles.h"
#include "vantrel/server/ServerTestSupport.h"

using namespace vantreld;
using vantreld::testing::stream;
using vantreld::testing::TempDir;
using vantreld::testing::VantreldProcess;

namespace {

// Node id -> (parent id, name) of every creation acknowledged to the client.
typedef std::map<std::string, std::pair<std::string, std::string>> Acknowledged;

// Creates volumes under the root and a project under every second one, until a call fails.
void burst(int port, int round, Acknowledged& acknowledged, std::atomic<int>& count) {
    Vantrel::rcAPI client;
    if (!client.connect("127.0.0.1", port, 5000)) return;
    std::string volume;
    for (int i = 0; i < 100000; ++i) {
        const bool project = i % 2 == 1;
        const std::string parent = project ? volume : "host";
        const std::string name =
            (project ? "p" : "v") + std::to_string(round) + "-" + std::to_string(i);
        std::string reply;
        if (!client.call(0, "CreateNodeEx",
                         stream({{"Parent", parent},
                                 {"Displ", name},
                                 {"Type", "0"},
                                 {"ExType", project ? "PROJECT" : "VOLUME"}})
                             .c_str(),
                         true, reply, 5000))
            return;
        acknowledged[reply] = {parent, name};
        if (!project) volume = reply;
        ++count;
    }
}

std::map<std::string, std::string> children(Vantrel::rcAPI& client, const std::string& id) {
    std::string reply;
    EXPECT_TRUE(client.call(0, "GetChildrenEx", ("\"" + id + "\"").c_str(), true, reply, 10000))
        << reply;
    std::map<std::string, std::string> found;
    const Vantrel::rcAttrStream list(reply);
    Vantrel::rcAttrStream::ConstIterator items(list);
    unsigned int namePos, nameLen, valuePos, valueLen;
    while (items.next(namePos, nameLen, valuePos, valueLen)) {
        const Vantrel::rcAttrStream item(items.getData().substr(valuePos, valueLen));
        std::string childId, name;
        EXPECT_TRUE(item.getStringValue("Id", childId) && item.getStringValue("Displ", name));
        found[childId] = name;
    }
    return found;
}

}  // namespace

TEST(VantreldCrash, KilledDuringABurstOfCreationsRestartsWithEveryAcknowledgedNode) {
    TempDir dir;
    const std::string tree = dir / "tree";
    Acknowledged acknowledged;
    for (int round = 0; round < 3; ++round) {
        VantreldProcess server({"--port", "0", tree});
        const int port = server.waitUntilReady();
        ASSERT_GT(port, 0) << server.printed();
        std::atomic<int> count(0);
        std::thread client([&] { burst(port, round, acknowledged, count); });
        // Kill at a different point of the burst each round.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (count < 20 + 7 * round && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        server.kill(SIGKILL);
        client.join();
        EXPECT_EQ(server.waitForExit(5000), 128 + SIGKILL);
        ASSERT_GE(count.load(), 20 + 7 * round);
    }

    VantreldProcess server({"--port", "0", tree});
    const int port = server.waitUntilReady();
    ASSERT_GT(port, 0) << server.printed();
    for (const std::string& name : ServerFiles::list(tree + "/nodes"))
        EXPECT_EQ(name.find_first_not_of("0123456789"), std::string::npos) << name;

    Vantrel::rcAPI client;
    ASSERT_TRUE(client.connect("127.0.0.1", port, 5000)) << client.lastError();
    const std::map<std::string, std::string> volumes = children(client, "host");
    size_t listed = volumes.size();
    for (const auto& volume : volumes) {
        std::string type;
        EXPECT_TRUE(client.call(0, "GetNodeTypeStr", ("\"" + volume.first + "\"").c_str(), true,
                                type, 5000));
        EXPECT_EQ(type, "VOLUME");
        listed += children(client, volume.first).size();
    }
    for (const auto& created : acknowledged) {
        const std::map<std::string, std::string> siblings = children(client, created.second.first);
        const auto found = siblings.find(created.first);
        ASSERT_NE(found, siblings.end()) << created.first << " was acknowledged but is gone";
        EXPECT_EQ(found->second, created.second.second);
    }
    // At most the one creation in flight per kill was done but never acknowledged.
    EXPECT_GE(listed, acknowledged.size());
    EXPECT_LE(listed, acknowledged.size() + 3);
}
