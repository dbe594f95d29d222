// The subcommands that change a tree: create, mv, rm, meta; and watch, which sees changes.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"

namespace {

using nlohmann::json;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolProcess;
using tool_testing::ToolResult;

const std::string LIBRARY = "/Volume 1/Commercial/Shared Vault/Library A";
const std::string SHOT = LIBRARY + "/Reel 1/Shot 010";

ToolResult runOk(const std::vector<std::string>& args, const std::string& input = "") {
    ToolResult result = runTool(args, input);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result;
}

json stat(const SampleServer& server, const std::string& path) {
    return json::parse(runOk({"--json", "stat", server.node(path)}).out);
}

TEST(ToolChange, CreateMakesNodesOfAnyTypeAndClipsOfTheFormatGiven) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const ToolResult folder = runOk({"create", "--type", "FOLDER", server.node(LIBRARY + "/Selects")});
    EXPECT_EQ(folder.out.rfind("Created " + server.node(LIBRARY + "/Selects") + " [FOLDER], id ", 0), 0u)
        << folder.out;
    EXPECT_EQ(stat(server, LIBRARY + "/Selects")["type"], "FOLDER");

    const json clip = json::parse(
        runOk({"--json", "create", "--type", "CLIP", "--width", "720", "--height", "486",
               "--bits", "16", "--channels", "2", "--tag", "uyvy", "--rate", "29.97", "--scan",
               "field1_even", "--metadata-tag", "text", "--metadata", "from the tool",
               "--frames", "5", server.node(LIBRARY + "/Selects/Take 9")})
            .out);
    EXPECT_EQ(clip["path"], server.node(LIBRARY + "/Selects/Take 9"));
    const json format = stat(server, LIBRARY + "/Selects/Take 9")["format"];
    EXPECT_EQ(format["width"], 720);
    EXPECT_EQ(format["height"], 486);
    EXPECT_EQ(format["bitsPerPixel"], 16);
    EXPECT_EQ(format["channels"], 2);
    EXPECT_EQ(format["frameBufferSize"], 720 * 486 * 2);
    EXPECT_NEAR(format["frameRate"].get<double>(), 29.97, 0.001);
    EXPECT_EQ(format["scan"], "field1_even");
    EXPECT_EQ(format["tag"], "uyvy");
    EXPECT_EQ(format["metaData"], "from the tool");
    EXPECT_EQ(stat(server, LIBRARY + "/Selects/Take 9")["frames"], 5);
    EXPECT_EQ(clip["frames"], 5);
}

TEST(ToolChange, MvRenamesAndRmRemoves) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    EXPECT_EQ(runOk({"mv", server.node(LIBRARY + "/Dailies"), "Day 1"}).out,
              "Renamed to " + server.node(LIBRARY + "/Day 1") + "\n");
    EXPECT_EQ(stat(server, LIBRARY + "/Day 1/Nested/Take 2")["name"], "Take 2");
    EXPECT_EQ(runTool({"stat", server.node(LIBRARY + "/Dailies")}).status, 1);
    const json renamed =
        json::parse(runOk({"--json", "mv", server.node(LIBRARY + "/Reel 1"), "Reel One"}).out);
    EXPECT_EQ(renamed["from"], server.node(LIBRARY + "/Reel 1"));
    EXPECT_EQ(renamed["path"], server.node(LIBRARY + "/Reel One"));
    EXPECT_EQ(renamed["id"], stat(server, LIBRARY + "/Reel One")["id"]);
    runOk({"mv", server.node(LIBRARY + "/Reel One"), "Reel 1"});

    // A node with children goes only with -r.
    const ToolResult refused = runTool({"rm", server.node(LIBRARY + "/Day 1")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("has 2 children; -r removes them too"), std::string::npos)
        << refused.err;
    EXPECT_EQ(stat(server, LIBRARY + "/Day 1")["children"], 2);

    const json removed = json::parse(runOk({"--json", "rm", "-r", server.node(LIBRARY + "/Day 1")}).out);
    EXPECT_EQ(removed["removed"], server.node(LIBRARY + "/Day 1"));
    EXPECT_EQ(runOk({"rm", server.node(SHOT)}).out, "Removed " + server.node(SHOT) + "\n");
    EXPECT_EQ(runOk({"ls", server.node(LIBRARY)}).out, "REEL\tReel 1\n");
    EXPECT_EQ(runOk({"ls", server.node(LIBRARY + "/Reel 1")}).out,
              "CLIP\tShot 020\t8x4 rgb, 2 frames\n");
}

TEST(ToolChange, MetaListsReadsAndWritesStreams) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    EXPECT_EQ(runOk({"meta", "ls", server.node(SHOT)}).out, "comments\ntimecode\n");
    EXPECT_EQ(runOk({"meta", "get", server.node(SHOT), "comments"}).out, "first shot, wide\n");

    // From standard input, then from a file; text with line ends and non-ASCII stays whole.
    const std::string notes = "line one\nligne deux, \xc3\xa9t\xc3\xa9\n";
    EXPECT_EQ(runOk({"meta", "set", server.node(SHOT), "notes"}, notes).out,
              "Wrote " + std::to_string(notes.size()) + " bytes to 'notes' of " +
                  server.node(SHOT) + "\n");
    EXPECT_EQ(runOk({"meta", "get", server.node(SHOT), "notes"}).out, notes);
    TempDir dir;
    std::ofstream(dir / "grade.xml") << "<grade lift=\"0.1\"/>";
    const json set = json::parse(
        runOk({"--json", "meta", "set", server.node(SHOT), "grade", dir / "grade.xml"}).out);
    EXPECT_EQ(set["bytes"], 19);
    const json got = json::parse(runOk({"--json", "meta", "get", server.node(SHOT), "grade"}).out);
    EXPECT_EQ(got["data"], "<grade lift=\"0.1\"/>");
    EXPECT_EQ(got["stream"], "grade");
    const json streams = json::parse(runOk({"--json", "meta", "ls", server.node(SHOT)}).out);
    EXPECT_EQ(streams["streams"], json::parse(R"(["comments","grade","notes","timecode"])"));
}

// watch prints each event of the node, one line each, flushed as it comes; with --json one
// object per line; Ctrl-C (SIGINT) ends it with status 0.
TEST(ToolWatch, PrintsTheEventsOfACreatedNodeUntilInterrupted) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    ToolProcess human({"watch", server.node(LIBRARY)});
    ToolProcess json({"watch", "--json", server.node(LIBRARY)});
    ASSERT_TRUE(human.waitFor("Watching " + server.node(LIBRARY), 20000, true))
        << human.result().err;
    ASSERT_TRUE(json.waitFor("Watching ", 20000, true)) << json.result().err;

    runOk({"create", "--type", "CLIP", "--width", "4", "--height", "2", "--frames", "2",
           server.node(LIBRARY + "/New Take")});
    ASSERT_TRUE(human.waitFor("ChildFramesAllocated", 20000)) << human.result().out;
    ASSERT_TRUE(json.waitFor("ChildFramesAllocated", 20000)) << json.result().out;

    human.signal(SIGINT);
    json.signal(SIGTERM);
    const ToolResult& humanResult = human.finish();
    const ToolResult& jsonResult = json.finish();
    EXPECT_EQ(humanResult.status, 0) << humanResult.err;
    EXPECT_EQ(jsonResult.status, 0) << jsonResult.err;

    std::istringstream lines(humanResult.out);
    std::string created, allocated;
    std::getline(lines, created);
    std::getline(lines, allocated);
    EXPECT_EQ(created.rfind("ChildCreated Child=", 0), 0u) << humanResult.out;
    EXPECT_NE(created.find(" Name=New Take Type=CLIP"), std::string::npos) << created;
    EXPECT_NE(allocated.find(" NumFrames=2"), std::string::npos) << allocated;

    std::istringstream objects(jsonResult.out);
    std::string line;
    std::vector<nlohmann::json> events;
    while (std::getline(objects, line)) events.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(events.size(), 2u) << jsonResult.out;
    EXPECT_EQ(events[0]["type"], "ChildCreated");
    EXPECT_EQ(events[0]["path"], server.node(LIBRARY));
    EXPECT_EQ(events[0]["details"]["Name"], "New Take");
    EXPECT_EQ(events[0]["details"]["Type"], "CLIP");
    EXPECT_EQ(events[1]["type"], "ChildFramesAllocated");
    EXPECT_EQ(events[1]["details"]["Child"], events[0]["details"]["Child"]);
}

TEST(ToolWatch, CountEndsItAndALostServerEndsItWithStatus3) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    ToolProcess counted({"watch", "--count", "1", server.node(SHOT)});
    ToolProcess endless({"watch", server.node(SHOT)});
    ASSERT_TRUE(counted.waitFor("Watching ", 20000, true)) << counted.result().err;
    ASSERT_TRUE(endless.waitFor("Watching ", 20000, true)) << endless.result().err;
    runOk({"meta", "set", server.node(SHOT), "comments"}, "changed");
    runOk({"mv", server.node(SHOT), "Shot 011"});
    const ToolResult& one = counted.finish();
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "MetaDataChanged Stream=comments\n");

    ASSERT_TRUE(endless.waitFor("Renamed Name=Shot 011\n", 20000)) << endless.result().out;
    server.stop();
    const ToolResult& lost = endless.finish();
    EXPECT_EQ(lost.status, 3) << lost.err;
    EXPECT_NE(lost.err.find("vantrel watch: server '" + server.id() + "' stopped answering"),
              std::string::npos)
        << lost.err;
}

}  // namespace
