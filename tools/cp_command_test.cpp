// vantrel cp between two vantreld processes and within one: clips byte for byte with their
// format and metadata, -r subtrees, interruption and --resume, --verify, --dry-run, and a
// failed copy that leaves nothing under the final name.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>

#include <nlohmann/json.hpp>

#include "FramePipe.h"
#include "ToolTestSupport.h"
#include "TransferTestSupport.h"

namespace {

using nlohmann::json;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolProcess;
using tool_testing::ToolResult;
using tool_testing::writeFile;

const std::string LIBRARY = "/Volume 1/Commercial/Shared Vault/Library A";
const std::string REEL = LIBRARY + "/Reel 1";
const std::string SHOT = REEL + "/Shot 010";  // 3 frames of 96 bytes
const std::string MAIN = "/Volume 1/Feature Film/Vault/Main";
const size_t FRAME_SIZE = 96;

json runJson(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--json", "-q"};
    all.insert(all.end(), args.begin(), args.end());
    const ToolResult result = runTool(all);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.status == 0 ? json::parse(result.out) : json();
}

// The frames of a clip, back to back.
std::string clipBytes(const std::string& clip) {
    const ToolResult result = runTool({"get", "-q", clip});
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

// What a copy must keep of every node under `node`, by path below it: type, format, frames
// (byte for byte, as a hash) and metadata streams.
std::map<std::string, std::string> describeUnder(const std::string& server,
                                                 const std::string& node) {
    const json rows = runJson({"ls", "--depth", "100", server + ":" + node});
    std::map<std::string, std::string> described;
    for (const json& row : rows["children"]) {
        const std::string path = row["path"].get<std::string>();
        std::string text = row["type"].get<std::string>();
        if (row["clip"] == true)
            text += " " + row["format"].dump() + " " + std::to_string(row["frames"].get<int>()) +
                    " " + std::to_string(std::hash<std::string>()(clipBytes(server + ":" + path)));
        for (const char* stream : {"comments", "timecode"}) {
            const ToolResult meta = runTool({"meta", "get", server + ":" + path, stream});
            text += std::string(" ") + stream + "=" + (meta.status == 0 ? meta.out : "-");
        }
        described[path.substr(node.size())] = text;
    }
    return described;
}

std::vector<std::string> childNames(const std::string& node) {
    std::vector<std::string> names;
    const json listing = runJson({"ls", node});
    for (const json& row : listing["children"]) names.push_back(row["name"]);
    return names;
}

// The names under `node` that start with `prefix`.
std::vector<std::string> namesStartingWith(const std::string& node, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& name : childNames(node))
        if (name.rfind(prefix, 0) == 0) found.push_back(name);
    return found;
}

std::string randomFrame(unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(FRAME_SIZE, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

// Fills the sample clip with `count` random frames; their bytes back to back.
std::string fillShot(const SampleServer& server, const TempDir& dir, size_t count) {
    std::vector<std::string> args{"put", "-q"};
    std::string all;
    for (size_t i = 0; i < count; ++i) {
        args.push_back(dir / ("frame" + std::to_string(i)));
        all += randomFrame(static_cast<unsigned>(i + 7));
        writeFile(args.back(), all.substr(i * FRAME_SIZE));
    }
    args.push_back(server.node(SHOT));
    const ToolResult put = runTool(args);
    EXPECT_EQ(put.status, 0) << put.err;
    return all;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(ToolCp, ClipToAnotherServerAndWithinOne) {
    SampleServer from, to;
    ASSERT_TRUE(from.running() && to.running());
    const std::string shot = describeUnder(from.id(), REEL).at("/Shot 010");
    EXPECT_NE(shot.find("comments=first shot, wide"), std::string::npos) << shot;

    // Into an existing reel of another server: the copy takes the source's name there.
    const json doc = runJson({"cp", from.node(SHOT), to.node(MAIN + "/Reel 1")});
    EXPECT_EQ(doc["to"], to.node(MAIN + "/Reel 1/Shot 010"));
    EXPECT_EQ(doc["frames"], 3);
    EXPECT_EQ(doc["bytes"], 3 * FRAME_SIZE);
    EXPECT_EQ(doc["written"], 3);
    EXPECT_EQ(describeUnder(to.id(), MAIN + "/Reel 1").at("/Shot 010"), shot);
    EXPECT_EQ(clipBytes(to.node(MAIN + "/Reel 1/Shot 010")), clipBytes(from.node(SHOT)));
    EXPECT_TRUE(namesStartingWith(to.node(MAIN + "/Reel 1"), ".").empty());
    // Within one server, under a new name.
    runJson({"cp", from.node(SHOT), from.node(REEL + "/Shot 011")});
    EXPECT_EQ(describeUnder(from.id(), REEL).at("/Shot 011"), shot);

    // A copy never replaces a node: the same copy again is refused and changes nothing.
    const auto before = describeUnder(to.id(), MAIN);
    const ToolResult again = runTool({"cp", from.node(SHOT), to.node(MAIN + "/Reel 1")});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("exists"), std::string::npos) << again.err;
    EXPECT_EQ(describeUnder(to.id(), MAIN), before);
}

TEST(ToolCp, RecursiveCopyOfAFolderKeepsEverythingUnderIt) {
    SampleServer from, to;
    ASSERT_TRUE(from.running() && to.running());
    const std::string dailies = LIBRARY + "/Dailies";  // a clip and a folder with a clip

    const ToolResult flat = runTool({"cp", from.node(dailies), to.node(MAIN)});
    EXPECT_EQ(flat.status, 2);
    EXPECT_NE(flat.err.find("-r"), std::string::npos) << flat.err;
    EXPECT_EQ(childNames(to.node(MAIN)), std::vector<std::string>{"Reel 1"});

    const json doc = runJson({"cp", "-r", from.node(dailies), to.node(MAIN)});
    EXPECT_EQ(doc["nodes"], 4);
    EXPECT_EQ(doc["clips"], 2);
    EXPECT_EQ(doc["frames"], 3);
    const auto source = describeUnder(from.id(), dailies);
    EXPECT_EQ(source.count("/Nested/Take 2"), 1u);
    EXPECT_EQ(describeUnder(to.id(), MAIN + "/Dailies"), source);
    EXPECT_EQ(childNames(to.node(MAIN)), (std::vector<std::string>{"Reel 1", "Dailies"}));
}

TEST(ToolCp, InterruptedCopyIsResumedWithoutRewritingFramesAlreadyThere) {
    // Every frame read from disk takes 500 ms on the source, so the copy (12 s) is still going
    // when it is interrupted, even when the tool runs slowly under a sanitizer.
    SampleServer from({"--no-discovery", "--bench-read-delay-ms", "500"}), to;
    ASSERT_TRUE(from.running() && to.running());
    TempDir dir;
    const std::string frames = fillShot(from, dir, 24);
    const std::string reel = to.node(MAIN + "/Reel 1");

    ToolProcess copy({"cp", from.node(SHOT), reel});
    std::vector<std::string> partial;
    // Interrupted once the partial copy holds its first frame.
    ASSERT_TRUE(waitUntil([&] {
        partial = namesStartingWith(reel, ".Shot 010.partial-");
        return !partial.empty() && runTool({"get", "-q", reel + "/" + partial[0], "0"}).out ==
                                       frames.substr(0, FRAME_SIZE);
    }));
    copy.signal(SIGINT);
    EXPECT_EQ(copy.finish().status, 128 + SIGINT) << copy.result().err;
    EXPECT_NE(copy.result().err.find("vantrel cp: interrupted; the partial copy stays as " + reel +
                                     "/" + partial[0] + " (cp --resume continues it)\n"),
              std::string::npos)
        << copy.result().err;
    EXPECT_EQ(childNames(reel), (std::vector<std::string>{"Opening", "Colour Bars", partial[0]}));
    ASSERT_EQ(partial[0].size(), std::string(".Shot 010.partial-").size() + 32);

    const json doc = runJson({"cp", "--resume", from.node(SHOT), reel});
    EXPECT_EQ(doc["resumed"], true);
    EXPECT_GE(doc["skipped"].get<int>(), 1);
    EXPECT_EQ(doc["skipped"].get<int>() + doc["written"].get<int>(), 24);
    EXPECT_EQ(clipBytes(reel + "/Shot 010"), frames);
    EXPECT_EQ(childNames(reel), (std::vector<std::string>{"Opening", "Colour Bars", "Shot 010"}));
}

TEST(ToolCp, FailedCopyLeavesNothingUnderTheFinalName) {
    SampleServer from({"--no-discovery", "--bench-read-delay-ms", "200"}), to;
    ASSERT_TRUE(from.running() && to.running());
    TempDir dir;
    fillShot(from, dir, 24);
    const std::string reel = to.node(MAIN + "/Reel 1");

    ToolProcess copy({"--timeout", "5", "cp", from.node(SHOT), reel});
    ASSERT_TRUE(waitUntil([&] { return !namesStartingWith(reel, ".Shot 010.").empty(); }));
    from.stop();  // the source goes away mid-copy
    const ToolResult& result = copy.finish();
    EXPECT_EQ(result.status, 3) << result.err;
    EXPECT_NE(result.err.find("the partial copy stays as"), std::string::npos) << result.err;
    const std::vector<std::string> names = childNames(reel);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Shot 010"), 0);
    EXPECT_EQ(namesStartingWith(reel, ".Shot 010.partial-").size(), 1u);
}

TEST(ToolCp, VerifyComparesEveryFrameWithTheSource) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    TempDir dir;
    const std::string copy = server.node(REEL + "/Shot 011");

    const json fresh = runJson({"cp", "--verify", server.node(SHOT), copy});
    EXPECT_EQ(fresh["verified"], true);
    const json same = runJson({"cp", "--verify", server.node(SHOT), copy});
    EXPECT_EQ(same["written"], 0);

    // A frame changed, then one frame too many.
    writeFile(dir / "other", std::string(FRAME_SIZE, 'x'));
    ASSERT_EQ(runTool({"put", "-q", "--at", "1", dir / "other", copy}).status, 0);
    const ToolResult changed = runTool({"cp", "--verify", server.node(SHOT), copy});
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.err.find("Shot 011: 1 frame differs (1)"), std::string::npos) << changed.err;
    ASSERT_EQ(runTool({"put", "-q", "--at", "3", dir / "other", copy}).status, 0);
    const ToolResult longer = runTool({"cp", "--verify", server.node(SHOT), copy});
    EXPECT_EQ(longer.status, 1);
    EXPECT_NE(longer.err.find("has 4 frames, the source 3"), std::string::npos) << longer.err;
}

TEST(ToolCp, DryRunChangesNothing) {
    SampleServer from, to;
    ASSERT_TRUE(from.running() && to.running());
    const auto before = describeUnder(to.id(), MAIN);

    const json doc = runJson({"cp", "--dry-run", "-r", from.node(LIBRARY), to.node(MAIN)});
    EXPECT_EQ(doc["dryRun"], true);
    EXPECT_EQ(doc["to"], to.node(MAIN + "/Library A"));
    EXPECT_EQ(doc["nodes"], 8);
    EXPECT_EQ(doc["clips"], 4);
    const ToolResult text = runTool({"cp", "--dry-run", "-r", from.node(LIBRARY), to.node(MAIN)});
    EXPECT_EQ(text.out.rfind("would copy ", 0), 0u) << text.out;

    EXPECT_EQ(describeUnder(to.id(), MAIN), before);
    EXPECT_EQ(childNames(to.node(MAIN)), std::vector<std::string>{"Reel 1"});
}

TEST(FramePipe, ConsumerFailureReachesTheReaderAndStopsTheTransfer) {
    std::vector<size_t> consumed;
    vantrel_tool::FramePipe pipe(2, [&](size_t index, const std::vector<unsigned char>& bytes) {
        if (index == 3) throw std::runtime_error("cannot write frame 3");
        consumed.push_back(index + bytes.size());
    });
    bool thrown = false;
    try {
        for (size_t i = 0; i < 100; ++i) {
            std::vector<unsigned char> frame(10, 1);
            pipe.push(i, frame);
        }
        pipe.finish();
    } catch (const std::runtime_error& error) {
        thrown = std::string(error.what()) == "cannot write frame 3";
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(consumed, (std::vector<size_t>{10, 11, 12}));
}

}  // namespace
