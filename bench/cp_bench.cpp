// `vantrel cp` of a 1 GiB clip between two vantreld processes, beside `vantrel get` of the same
// clip to /dev/null measured in the same run: the copy moves every byte twice (in from the
// source, out to the destination) while `get` only reads, so the ratio says how well reading
// and writing overlap. Goal: ratio (get seconds / cp seconds) at least 0.8. Prints
//   get_seconds=S cp_seconds=S get_MBps=R cp_MBps=R ratio=R
// from the best of ROUNDS rounds of each (default 3). A plain program, not a test: run it
// inside scripts/in-netns.sh, on a quiet machine.
//
//   cp_bench [ROUNDS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "VantreldProcess.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

constexpr int WIDTH = 2048;
constexpr int HEIGHT = 512;  // RGBA: 4 MiB frames
constexpr int FRAMES = 256;  // 1 GiB
const std::string REEL = "/Volume 1/Feature Film/Vault/Main/Reel 1";

struct Server {
    std::string directory;
    std::unique_ptr<vantreld::testing::VantreldProcess> process;
    int port = -1;
    std::string id() const { return "127.0.0.1:" + std::to_string(port); }
};

Server startServer(const std::string& directory) {
    Server server{directory, nullptr, -1};
    if (::mkdir(directory.c_str(), 0700) != 0) return server;
    vantreld::testing::VantreldProcess init({"--init-sample", directory + "/tree"});
    if (init.waitForExit(30000) != 0) return server;
    server.process = std::make_unique<vantreld::testing::VantreldProcess>(std::vector<std::string>{
        "--port", "0", "--no-sync", "--no-discovery", "--log", directory + "/log",
        directory + "/tree"});
    server.port = server.process->waitUntilReady();
    return server;
}

// Runs the built tool with its standard output on /dev/null; the seconds it took (or -1).
double timeTool(std::vector<std::string> args) {
    args.insert(args.begin(), VANTREL_TOOL_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const bool spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (!spawned || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "error: %s failed\n", args[1].c_str());
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A clip of FRAMES frames of varied bytes under the sample reel of `server`.
bool makeClip(const Server& server) {
    VantrelServerHandle handle(server.id().c_str());
    VantrelNodeHandle reel, clip;
    const VantrelClipFormat format(WIDTH, HEIGHT, 32, 4, WIDTH * HEIGHT * 4, 24.0f, 1.0f,
                                   VantrelClipFormat::progressive, VantrelClipFormat::FORMAT_RGBA(),
                                   "none", "");
    if (!VantrelResolveDisplayPath(handle, REEL.c_str(), reel) ||
        !reel.createClipNode("Bench", format, "CLIP", clip) || !clip.setNumFrames(FRAMES)) {
        std::fprintf(stderr, "error: %s\n", handle.lastError());
        return false;
    }
    std::vector<unsigned char> frame(static_cast<size_t>(WIDTH) * HEIGHT * 4);
    for (int i = 0; i < FRAMES; ++i) {
        for (size_t b = 0; b < frame.size(); ++b) frame[b] = static_cast<unsigned char>(b * 7 + i);
        if (!clip.writeFrame(i, frame.data(), static_cast<int>(frame.size()))) {
            std::fprintf(stderr, "error: %s\n", clip.lastError());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    char pattern[] = "/tmp/vantrel-cp-bench-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) return 1;
    int result = 1;
    {
        VantrelClient library;
        Server from = startServer(std::string(dir) + "/from");
        Server to = startServer(std::string(dir) + "/to");
        if (!library.init() || from.port <= 0 || to.port <= 0 || !makeClip(from)) return 1;
        const std::string clip = from.id() + ":" + REEL + "/Bench";
        double get = 1e30, cp = 1e30;
        for (int round = 0; round < rounds; ++round) {
            const double g = timeTool({"-q", "get", clip});
            const std::string copy = to.id() + ":" + REEL + "/Copy";
            const double c = timeTool({"-q", "cp", clip, copy});
            if (g < 0 || c < 0 || timeTool({"-q", "rm", copy}) < 0) break;
            get = std::min(get, g);
            cp = std::min(cp, c);
            result = 0;
        }
        const double mb = static_cast<double>(FRAMES) * WIDTH * HEIGHT * 4 / 1e6;
        if (result == 0)
            std::printf("get_seconds=%.3f cp_seconds=%.3f get_MBps=%.1f cp_MBps=%.1f ratio=%.2f "
                        "(goal >= 0.8)\n",
                        get, cp, mb / get, mb / cp, get / cp);
    }
    std::system((std::string("rm -rf '") + dir + "'").c_str());
    return result;
}
