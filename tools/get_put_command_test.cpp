// vantrel get and put: frames byte for byte, frame ranges, the progress bar on a terminal
// only, exit statuses.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "ToolTestSupport.h"
#include "TransferTestSupport.h"

namespace {

using tool_testing::readFile;
using tool_testing::runOnTerminal;
using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::TempDir;
using tool_testing::ToolProcess;
using tool_testing::ToolResult;
using tool_testing::writeFile;

// A sample clip of 3 frames of 8x4 RGB (96 bytes each).
const std::string SHOT = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1/Shot 010";
const size_t FRAME_SIZE = 96;

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

// Puts `count` files of random frames into the sample clip (allocating beyond its 3 frames);
// their bytes in frame order.
std::vector<std::string> putFrames(const SampleServer& server, const TempDir& dir, size_t count) {
    std::vector<std::string> frames, args{"put", "-q"};
    for (size_t i = 0; i < count; ++i) {
        frames.push_back(randomBytes(FRAME_SIZE, static_cast<unsigned>(i)));
        args.push_back(dir / ("in" + std::to_string(i)));
        writeFile(args.back(), frames.back());
    }
    args.push_back(server.node(SHOT));
    const ToolResult put = runTool(args);
    EXPECT_EQ(put.status, 0) << put.err;
    EXPECT_NE(put.out.find("put " + std::to_string(count) + " frames"), std::string::npos)
        << put.out;
    return frames;
}

TEST(ToolGetPut, MultiFrameClipByteForByte) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::vector<std::string> frames = putFrames(server, dir, 7);

    // One file per frame, numbered by frame index.
    const ToolResult files = runTool({"get", server.node(SHOT), "-o", dir / "out.%03d.raw"});
    ASSERT_EQ(files.status, 0) << files.err;
    EXPECT_EQ(files.err, "");
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(readFile(dir / ("out.00" + std::to_string(i) + ".raw")), frames[i]) << i;

    // Standard output, in the order the ranges name.
    const ToolResult out = runTool({"get", server.node(SHOT), "5-,0,2-3"});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.out, frames[5] + frames[6] + frames[0] + frames[2] + frames[3]);

    // One file holding several frames, and the JSON account of it.
    const ToolResult json = runTool({"--json", "get", server.node(SHOT), "1,4", "-o", dir / "two"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(readFile(dir / "two"), frames[1] + frames[4]);
    const nlohmann::json doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["bytes"], 2 * FRAME_SIZE);
    ASSERT_EQ(doc["frames"].size(), 2u);
    EXPECT_EQ(doc["frames"][1]["index"], 4);
}

TEST(ToolGetPut, PutAtAnIndexKeepsTheOtherFramesAndPadsShortFiles) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const ToolResult before = runTool({"get", server.node(SHOT)});
    ASSERT_EQ(before.out.size(), 3 * FRAME_SIZE) << before.err;
    writeFile(dir / "short", "abc");
    const ToolResult put =
        runTool({"--json", "put", "--at", "4", dir / "short", server.node(SHOT)});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_EQ(nlohmann::json::parse(put.out)["allocated"], 2);  // frames 3 and 4

    const ToolResult after = runTool({"get", server.node(SHOT)});
    ASSERT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(after.out, before.out + std::string(FRAME_SIZE, '\0') + "abc" +
                             std::string(FRAME_SIZE - 3, '\0'));
}

// The frame requests in the trace file `path` once it holds `count` of them: "ahead N" for
// a read-ahead of frame N of its clip, "read N" for a read.
std::vector<std::string> frameRequests(const std::string& path, size_t count) {
    std::vector<std::string> requests;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (requests.size() < count && std::chrono::steady_clock::now() < end) {
        requests.clear();
        std::istringstream lines(readFile(path));
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find("\tRead");
            const size_t dot = line.find('.', at);
            if (at == std::string::npos || dot == std::string::npos) continue;
            const bool ahead = line.compare(at + 1, 9, "ReadAhead") == 0;
            requests.push_back((ahead ? "ahead " : "read ") +
                               line.substr(dot + 1, line.find(' ', dot) - dot - 1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return requests;
}

// Frames are asked ahead in the order the ranges name, each once, before they are read.
// put - takes frames back to back from standard input, as get writes them; get will not
// write frames to a terminal.
TEST(ToolGetPut, PutFromStandardInputAndNoFramesOnATerminal) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string frames = randomBytes(2 * FRAME_SIZE + 10, 7);
    const ToolResult put = runTool({"put", "--at", "2", "-", server.node(SHOT)}, frames);
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_EQ(put.out, "put 3 frames (" + std::to_string(frames.size()) + " bytes) into " +
                           server.node(SHOT) + ", 2 of them new\n");
    const ToolResult got = runTool({"get", server.node(SHOT), "2-"});
    EXPECT_EQ(got.out, frames + std::string(FRAME_SIZE - 10, '\0'));

    const tool_testing::TerminalResult shown = runOnTerminal({"get", server.node(SHOT)});
    EXPECT_EQ(shown.status, 2);
    EXPECT_NE(shown.screen.find("not written to a terminal"), std::string::npos) << shown.screen;
}

TEST(ToolGetPut, ReadsAheadTheFramesItReadsNext) {
    const TempDir dir;
    SampleServer server({"--no-discovery", "--trace", dir / "trace"});
    ASSERT_TRUE(server.running());
    const ToolResult get = runTool({"get", server.node(SHOT), "2,0-1", "-o", "/dev/null"});
    ASSERT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(frameRequests(dir / "trace", 5),
              (std::vector<std::string>{"ahead 0", "ahead 1", "read 2", "read 0", "read 1"}));
}

// A target that is no plain file is written in place: a device stays a device (renaming a
// whole file over /dev/null replaced it for everyone), a link stays a link to its file.
TEST(ToolGetPut, TargetsThatAreNoPlainFilesAreWrittenInPlace) {
    SampleServer server({"--no-discovery"});
    ASSERT_TRUE(server.running());
    const ToolResult toDevice = runTool({"get", server.node(SHOT), "0", "-o", "/dev/null"});
    ASSERT_EQ(toDevice.status, 0) << toDevice.err;
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));

    const TempDir dir;
    const std::string file = dir / "frames.raw", link = dir / "link.raw";
    { std::ofstream(file) << "old"; }
    std::filesystem::create_symlink(file, link);
    const ToolResult throughLink = runTool({"get", server.node(SHOT), "0", "-o", link});
    ASSERT_EQ(throughLink.status, 0) << throughLink.err;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::file_size(file), runTool({"get", server.node(SHOT), "0"}).out.size());
}

// The bar shows on a terminal (items, bytes, rate) and nowhere when piped or --quiet.
TEST(ToolGetPut, ProgressBarOnlyOnATerminal) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::vector<std::string> get{"get", server.node(SHOT), "-o", dir / "f%d"};

    const tool_testing::TerminalResult terminal = runOnTerminal(get);
    EXPECT_EQ(terminal.status, 0) << terminal.screen;
    EXPECT_NE(terminal.screen.find("\r[####################]  3/3 frames  0.0/0.0 MB"),
              std::string::npos)
        << terminal.screen;
    EXPECT_NE(terminal.screen.find("MB/s"), std::string::npos) << terminal.screen;

    std::vector<std::string> quiet = get;
    quiet.push_back("--quiet");
    const tool_testing::TerminalResult silent = runOnTerminal(quiet);
    EXPECT_EQ(silent.status, 0) << silent.screen;
    EXPECT_EQ(silent.screen.find("frames  "), std::string::npos) << silent.screen;

    const ToolResult piped = runTool(get);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out.find('\r'), std::string::npos) << piped.out;
}

TEST(ToolGetPut, ExitStatuses) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    writeFile(dir / "big", std::string(FRAME_SIZE + 1, 'x'));
    writeFile(dir / "fits", std::string(FRAME_SIZE, 'x'));
    tool_testing::expectFailures({
        {{"get", server.node("/Volume 1/Nowhere")}, 1, "Nowhere"},
        {{"get", server.node("/Volume 1")}, 1, "'/Volume 1' is not a clip"},
        {{"get", server.node(SHOT), "0-3"}, 2, "frame 3 is beyond the clip's 3 frames"},
        {{"get", server.node(SHOT), "2-1"}, 2, "runs backwards"},
        {{"get", server.node(SHOT), "-o", dir / "f%s"}, 2, "'%s'"},
        {{"get", server.node(SHOT), "--json"}, 2, "--json needs --output"},
        {{"get", server.node(SHOT), "-o", dir / "no/such/folder/f"},
         2,
         "No such file or directory"},
        {{"get"}, 2, "clip is required"},
        {{"put", dir / "fits"}, 2, "At least 2"},
        {{"put", dir / "big", server.node(SHOT)}, 2, "97 bytes, more than the 96"},
        {{"put", dir / "missing", server.node(SHOT)}, 2, "No such file or directory"},
        {{"put", dir / "fits", server.node("/Volume 1/Nowhere")}, 1, "Nowhere"},
        {{"put", "--at", "x", dir / "fits", server.node(SHOT)}, 2, "--at"},
    });

    const std::string clip = server.node(SHOT);
    server.stop();
    tool_testing::expectFailures({{{"get", clip}, 3, "cannot reach server"},
                                  {{"put", dir / "fits", clip}, 3, "cannot reach server"}});
}

// --no-clobber refuses the whole command, writing nothing, when a file it would write (get,
// pull) or a frame it would overwrite (put) exists; put --dry-run shows where each file would
// go and changes nothing.
TEST(ToolGetPut, NoClobberAndDryRunChangeNothing) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    const std::string clip = server.node(SHOT);
    const std::string before = runTool({"get", clip}).out;
    ASSERT_EQ(before.size(), 3 * FRAME_SIZE);
    const std::string frame(FRAME_SIZE, 'x');
    writeFile(dir / "fits", frame);
    writeFile(dir / "out.1.raw", "keep");
    writeFile(dir / "one", "keep");
    ASSERT_EQ(runTool({"push", dir / "fits", server.node("/fits")}).status, 0);
    tool_testing::expectFailures({
        {{"get", "--no-clobber", clip, "-o", dir / "out.%d.raw"}, 2, "out.1.raw' exists"},
        {{"get", "--no-clobber", clip, "0", "-o", dir / "one"}, 2, "one' exists"},
        {{"pull", "--no-clobber", server.node("/fits"), dir / "one"}, 2, "one' exists"},
        {{"put", "--no-clobber", "--at", "2", dir / "fits", clip}, 2, "holds frame 2 already"},
        {{"put", "--dry-run", "-", clip}, 2, "standard input"},
    });
    EXPECT_FALSE(std::filesystem::exists(dir / "out.0.raw"));
    EXPECT_EQ(readFile(dir / "one"), "keep");

    ASSERT_EQ(runTool({"put", "--no-clobber", "--at", "3", dir / "fits", clip}).status, 0);
    const ToolResult dry =
        runTool({"--json", "put", "--dry-run", "--at", "3", dir / "fits", dir / "one", clip});
    ASSERT_EQ(dry.status, 0) << dry.err;
    const nlohmann::json plan = nlohmann::json::parse(dry.out);
    EXPECT_EQ(plan["allocated"], 1);  // frame 3 would be overwritten, frame 4 made
    ASSERT_EQ(plan["frames"].size(), 2u);
    EXPECT_EQ(plan["frames"][1]["index"], 4);
    EXPECT_EQ(plan["frames"][1]["bytes"], 4);
    EXPECT_EQ(runTool({"get", clip}).out, before + frame);
}

// The names in `dir`, sorted.
std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Files written by the processes started meanwhile fail once they pass `bytes` (EFBIG, as on
// a full disk) instead of ending them with SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldSignal_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldSignal_);
    }

private:
    rlimit old_{};
    sighandler_t oldSignal_;
};

// A transfer that fails or is interrupted part-way leaves nothing under its final name (a
// file already there keeps its bytes) and no temporary file beside it.
TEST(ToolGetPut, UnfinishedTransfersLeaveNoPartialFiles) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const TempDir dir;
    writeFile(dir / "kept.raw", "old");
    {
        const FileSizeLimit limit(FRAME_SIZE + 10);
        tool_testing::expectFailures({
            {{"get", server.node(SHOT), "-o", dir / "kept.raw"}, 2, "cannot write '" + (dir / "kept.raw")},
            {{"get", server.node(SHOT), "-o", dir / "new.raw"}, 2, "File too large"},
        });
    }
    EXPECT_EQ(readFile(dir / "kept.raw"), "old");
    EXPECT_EQ(filesIn(dir / ""), std::vector<std::string>{"kept.raw"});

    // Ctrl-C in the middle of a long get (3 MB frames, far more than are read before it).
    const std::string big = "/Volume 1/Commercial/Shared Vault/Library A/Big";
    ASSERT_EQ(runTool({"create", "--type", "CLIP", "--width", "1024", "--height", "1024",
                       "--frames", "400", server.node(big)})
                  .status,
              0);
    ToolProcess get({"get", "-q", server.node(big), "-o", dir / "big.raw"});
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (filesIn(dir / "").size() < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(filesIn(dir / "").size(), 2u) << "the get never started writing";
    get.signal(SIGINT);
    EXPECT_EQ(get.finish().status, 128 + SIGINT) << get.result().err;
    EXPECT_EQ(filesIn(dir / ""), std::vector<std::string>{"kept.raw"});
}

}  // namespace
