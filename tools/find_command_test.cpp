// vantrel find: matches by name and type, depth limits, and a wide folder listed in one
// request, against real vantreld processes.
#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"
#include "TransferTestSupport.h"

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
    const SampleServer server({"--no-discovery", "--trace", trace}, "", [](const std::string& tree) {
        tool_testing::addWideFolder(tree, 100000);
    });
    ASSERT_TRUE(server.running());
    const std::string wide = "/Volume 1/Wide";
    std::vector<std::string> found =
        foundPaths(server, {server.node(wide), "--depth", "1", "--name", "Item 09999?"});
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) expected.push_back(wide + "/Item 09999" + std::to_string(i));
    EXPECT_EQ(found, expected);
    const std::string requests = tool_testing::readFile(trace);
    EXPECT_EQ(requests.find("GetNodeType"), std::string::npos);
    EXPECT_EQ(requests.find("GetDisplayName"), std::string::npos);
    EXPECT_LE(std::count(requests.begin(), requests.end(), '\n'), 40) << requests.substr(0, 4000);
}

}  // namespace
