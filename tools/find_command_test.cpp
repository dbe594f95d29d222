// vantrel find: matches by name and type, depth limits, and a wide folder listed in one
// request, against real vantreld processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"
#include "TransferTestSupport.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

using nlohmann::json;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolResult;

const std::string LIBRARY = "/Volume 1/Commercial/Shared Vault/Library A";

// The paths (below SERVER:) of the matches of `vantrel --json find ARGS...`.
std::vector<std::string> foundPaths(const SampleServer& server, std::vector<std::string> args) {
    args.insert(args.begin(), {"--json", "find"});
    const ToolResult result = runTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<std::string> paths;
    const json doc = json::parse(result.out, nullptr, false);
    if (!doc.contains("matches")) return paths;
    for (const json& match : doc["matches"])
        paths.push_back(match["path"].get<std::string>().substr(server.id().size() + 1));
    return paths;
}

TEST(ToolFind, MatchesByNameTypeAndDepth) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string reel = LIBRARY + "/Reel 1";
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> found;
    } cases[] = {
        {{server.node(), "--name", "Shot 0?0"}, {reel + "/Shot 010", reel + "/Shot 020"}},
        {{server.node(LIBRARY), "--type", "reel"}, {reel}},
        {{server.node(LIBRARY), "--name", "Shot*", "--type", "FOLDER"}, {}},
        {{server.node(LIBRARY), "--depth", "1", "--name", "Shot*"}, {}},
        {{server.node(LIBRARY), "--depth", "2", "--name", "Shot 010"}, {reel + "/Shot 010"}},
        {{server.node(reel)}, {reel + "/Shot 010", reel + "/Shot 020"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(foundPaths(server, c.args), c.found);
    }
    // For people: one node path a line, usable as the argument of another command.
    const ToolResult text = runTool({"find", server.node(reel), "--name", "*020"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, server.node(reel + "/Shot 020") + "\n");
    tool_testing::expectFailures({
        {{"find", server.node("/Nowhere")}, 1, "Nowhere"},
        {{"find", server.node(), "--depth", "0"}, 2, "--depth"},
    });
}

// A search by name in a folder of 100,000 children lists the folder once and asks nothing
// of each child.
TEST(ToolFind, AWideFolderIsListedOnce) {
    const TempDir dir;
    const std::string trace = dir / "trace";
    SampleServer server({"--no-discovery", "--trace", trace});
    ASSERT_TRUE(server.running());
    // Made over four connections at once: the round trips overlap.
    VantrelClient library;
    ASSERT_TRUE(library.init());
    {
        VantrelServerHandle handle(server.id().c_str());
        VantrelNodeHandle parent, wide;
        ASSERT_TRUE(VantrelResolveDisplayPath(handle, LIBRARY.c_str(), parent))
            << handle.lastError();
        ASSERT_TRUE(parent.createNode("Wide", "FOLDER", wide)) << handle.lastError();
    }
    const int makers = 4;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < makers; ++t)
        threads.emplace_back([&, t] {
            VantrelServerHandle handle(server.id().c_str());
            VantrelNodeHandle wide, child;
            if (!VantrelResolveDisplayPath(handle, (LIBRARY + "/Wide").c_str(), wide)) ++failures;
            for (int i = t; i < 100000 && failures == 0; i += makers)
                if (!wide.createNode(("n" + std::to_string(i)).c_str(), "FOLDER", child))
                    ++failures;
        });
    for (std::thread& thread : threads) thread.join();
    ASSERT_EQ(failures, 0);
    const size_t traced = tool_testing::readFile(trace).size();
    std::vector<std::string> found =
        foundPaths(server, {server.node(LIBRARY + "/Wide"), "--depth", "1", "--name", "n9999?"});
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (std::vector<std::string>{LIBRARY + "/Wide/n99990", LIBRARY + "/Wide/n99991",
                                        LIBRARY + "/Wide/n99992", LIBRARY + "/Wide/n99993",
                                        LIBRARY + "/Wide/n99994", LIBRARY + "/Wide/n99995",
                                        LIBRARY + "/Wide/n99996", LIBRARY + "/Wide/n99997",
                                        LIBRARY + "/Wide/n99998", LIBRARY + "/Wide/n99999"}));
    const std::string requests = tool_testing::readFile(trace).substr(traced);
    EXPECT_EQ(requests.find("GetNodeType"), std::string::npos);
    EXPECT_EQ(requests.find("GetDisplayName"), std::string::npos);
    EXPECT_LE(std::count(requests.begin(), requests.end(), '\n'), 40) << requests.substr(0, 4000);
}

}  // namespace
