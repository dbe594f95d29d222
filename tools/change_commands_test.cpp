// The subcommands that change a tree: create, mv, rm, meta; and watch, which sees changes.
#include <gtest/gtest.h>
#include <algorithm>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "TransferTestSupport.h"

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

// Channels and bits come from a tag whose pixels the tools know; a format that contradicts
// such a tag is refused before anything is created. Other tags take what is written.
TEST(ToolChange, CreateDerivesOrRefusesFormatsOfKnownTags) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    struct Derived {
        std::vector<std::string> options;
        int channels, bits;
    };
    const Derived derived[] = {
        {{"--tag", "rgba"}, 4, 32},
        {{"--tag", "rgb_float_le"}, 3, 96},
        {{"--tag", "mono_le", "--bits", "16"}, 1, 16},
        {{"--tag", "uyvy", "--bits", "16"}, 3, 16},
        {{}, 3, 24},
    };
    int made = 0;
    for (const Derived& d : derived) {
        const std::string path = LIBRARY + "/Take " + std::to_string(++made);
        std::vector<std::string> args{"create", "--type", "CLIP", "--width", "4", "--height", "2"};
        args.insert(args.end(), d.options.begin(), d.options.end());
        args.push_back(server.node(path));
        runOk(args);
        const json format = stat(server, path)["format"];
        EXPECT_EQ(format["channels"], d.channels) << path;
        EXPECT_EQ(format["bitsPerPixel"], d.bits) << path;
    }

    const std::string refused = server.node(LIBRARY + "/Refused");
    tool_testing::expectFailures({
        {{"create", "--type", "CLIP", "--tag", "rgba", "--channels", "3", refused}, 2,
         "3 channels where the tag holds 4"},
        {{"create", "--type", "CLIP", "--bits", "7", refused}, 2,
         "7 bits per pixel do not split into 3 whole channels"},
        {{"create", "--type", "CLIP", "--tag", "rgb", "--bits", "48", "--frame-size", "10", refused},
         2, "cannot hold pixels"},
    });
    EXPECT_EQ(runTool({"stat", refused}).status, 1);
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

// "/" inside a name is written "\/" in paths, and printed that way.
TEST(ToolChange, NamesHoldingSlashesAreEscapedInPaths) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string escaped = LIBRARY + "/Cut\\/Day 2";
    EXPECT_EQ(runOk({"create", "--type", "FOLDER", server.node(escaped)}).out.rfind(
                  "Created " + server.node(escaped) + " [FOLDER]", 0),
              0u);
    EXPECT_EQ(stat(server, escaped)["name"], "Cut/Day 2");
    EXPECT_EQ(runOk({"ls", server.node(LIBRARY)}).out,
              "REEL\tReel 1\nFOLDER\tDailies\nFOLDER\tCut\\/Day 2\n");
    const std::string inner = escaped + "/a\\\\b\\/c";  // the name "a\b/c"
    runOk({"create", "--type", "FOLDER", server.node(inner)});
    EXPECT_EQ(stat(server, inner)["name"], "a\\b/c");
    EXPECT_EQ(runOk({"tree", server.node(escaped)}).out,
              "Cut\\/Day 2 [FOLDER]\n  a\\\\b\\/c [FOLDER]\n");
}

// rm takes several paths, and removes none of them when one is refused; counts read as words.
TEST(ToolChange, RmTakesSeveralPathsAndCountsReadAsWords) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    runOk({"create", "--type", "CLIP", "--width", "4", "--height", "2", "--frames", "1",
           server.node(LIBRARY + "/Dailies/One")});
    EXPECT_NE(runOk({"ls", server.node(LIBRARY + "/Dailies")}).out.find("rgb, 1 frame\n"),
              std::string::npos);
    const ToolResult refused = runTool(
        {"rm", server.node(LIBRARY + "/Dailies/One"), server.node(LIBRARY + "/Dailies/Nested")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("Nested has 1 child; -r removes them too"), std::string::npos)
        << refused.err;
    EXPECT_EQ(stat(server, LIBRARY + "/Dailies/One")["name"], "One");

    EXPECT_EQ(runOk({"rm", "-r", server.node(LIBRARY + "/Dailies/One"),
                     server.node(LIBRARY + "/Dailies/Nested")})
                  .out,
              "Removed " + server.node(LIBRARY + "/Dailies/One") + "\nRemoved " +
                  server.node(LIBRARY + "/Dailies/Nested") + "\n");
    EXPECT_EQ(stat(server, LIBRARY + "/Dailies")["children"], 1);
}

TEST(ToolChange, MetaListsReadsAndWritesStreams) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    EXPECT_EQ(runOk({"meta", "ls", server.node(SHOT)}).out, "comments\ntimecode\n");
    // Into a pipe the stored bytes come unchanged (no line end added); a terminal gets one.
    EXPECT_EQ(runOk({"meta", "get", server.node(SHOT), "comments"}).out, "first shot, wide");
    const tool_testing::TerminalResult shown =
        tool_testing::runOnTerminal({"meta", "get", server.node(SHOT), "comments"});
    EXPECT_EQ(shown.screen, "first shot, wide\r\n");

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

// --count and the node's own destruction end watch with status 0; a server that stops ends
// it with status 3, and the library's own complaints stay off standard output (JSON lines
// stay parseable).
TEST(ToolWatch, CountDestructionAndALostServerEndIt) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string doomed = LIBRARY + "/Reel 1/Shot 020";
    ToolProcess counted({"watch", "--count", "1", server.node(SHOT)});
    ToolProcess endless({"--json", "watch", server.node(SHOT)});
    ToolProcess destroyed({"watch", server.node(doomed)});
    for (ToolProcess* watch : {&counted, &endless, &destroyed})
        ASSERT_TRUE(watch->waitFor("Watching ", 20000, true)) << watch->result().err;
    runOk({"meta", "set", server.node(SHOT), "comments"}, "changed");
    runOk({"mv", server.node(SHOT), "Shot 011"});
    runOk({"rm", server.node(doomed)});
    const ToolResult& one = counted.finish();
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out, "MetaDataChanged Stream=comments\n");
    const ToolResult& gone = destroyed.finish();
    EXPECT_EQ(gone.status, 0) << gone.err;
    EXPECT_EQ(gone.out, "Destroyed\n");

    ASSERT_TRUE(endless.waitFor("\"Renamed\"", 20000)) << endless.result().out;
    server.stop();
    const ToolResult& lost = endless.finish();
    EXPECT_EQ(lost.status, 3) << lost.err;
    EXPECT_NE(lost.err.find("vantrel watch: server '" + server.id() + "' stopped answering"),
              std::string::npos)
        << lost.err;
    std::istringstream lines(lost.out);
    std::vector<std::string> types;
    for (std::string line; std::getline(lines, line);)
        types.push_back(nlohmann::json::parse(line).at("type"));  // throws on a stray line
    EXPECT_EQ(types, (std::vector<std::string>{"MetaDataChanged", "Renamed"})) << lost.out;
}

// watch -r follows the subtree: events of nodes below carry their paths, a folder created
// below is followed with what is made in it, a renamed node's events and those under it carry
// the new path, and the parents' "Child..." repeats are left out.
TEST(ToolWatch, RecursiveFollowsTheNodesBelowAsTheyComeAndGo) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string folder = LIBRARY + "/New";
    ToolProcess watch({"watch", "-r", "--json", server.node(LIBRARY)});
    ASSERT_TRUE(watch.waitFor("Watching " + server.node(LIBRARY) + " and below", 20000, true))
        << watch.result().err;
    runOk({"meta", "set", server.node(SHOT), "comments"}, "changed");
    runOk({"create", "--type", "FOLDER", server.node(folder)});
    ASSERT_TRUE(watch.waitFor("Watching " + server.node(folder) + "\n", 20000, true))
        << watch.result().err;
    runOk({"create", "--type", "FOLDER", server.node(folder + "/Inner")});
    ASSERT_TRUE(watch.waitFor("Watching " + server.node(folder + "/Inner"), 20000, true))
        << watch.result().err;
    runOk({"mv", server.node(folder), "Newer"});
    runOk({"meta", "set", server.node(LIBRARY + "/Newer/Inner"), "notes"}, "x");
    runOk({"rm", "-r", "-f", server.node(LIBRARY + "/Newer")});
    ASSERT_TRUE(watch.waitFor(server.node(LIBRARY + "/Newer") + "\",\"type\":\"Destroyed\"", 20000))
        << watch.result().out;
    watch.signal(SIGINT);
    const ToolResult& result = watch.finish();
    EXPECT_EQ(result.status, 0) << result.err;

    std::vector<std::string> seen;  // "PATH TYPE"
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        const json event = json::parse(line);
        seen.push_back(event["path"].get<std::string>() + " " + event["type"].get<std::string>());
    }
    const std::vector<std::string> expected = {
        server.node(SHOT) + " MetaDataChanged",
        server.node(LIBRARY) + " ChildCreated",
        server.node(folder) + " ChildCreated",
        server.node(folder) + " Renamed",
        server.node(LIBRARY + "/Newer/Inner") + " MetaDataChanged"};
    ASSERT_GE(seen.size(), expected.size()) << result.out;
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 5), expected) << result.out;
    // The removal: each removed node's own "Destroyed", in the server's order.
    const std::vector<std::string> removal(seen.begin() + 5, seen.end());
    EXPECT_EQ(std::count(removal.begin(), removal.end(),
                         server.node(LIBRARY + "/Newer/Inner") + " Destroyed"), 1) << result.out;
    EXPECT_EQ(std::count(removal.begin(), removal.end(), server.node(LIBRARY + "/Newer") + " Destroyed"),
              1) << result.out;
    EXPECT_EQ(removal.size(), 2u) << result.out;
}

}  // namespace
