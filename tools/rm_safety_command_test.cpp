// rm's safety options: --dry-run removes nothing, and on a terminal removing a subtree asks
// first unless -f (the tool run on a pseudo-terminal).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "ToolTestSupport.h"

namespace {

using tool_testing::runTool;
using tool_testing::SampleServer;
using tool_testing::ToolResult;

const std::string REEL = "/Volume 1/Commercial/Shared Vault/Library A/Reel 1";

struct Dialogue {
    int status = -1;
    std::string screen;
};

// Runs `vantrel ARGS...` on a terminal; once it shows `question`, types `answer` and a line end.
Dialogue runAnswering(const std::vector<std::string>& args, const std::string& question,
                      const std::string& answer) {
    std::vector<std::string> all{VANTREL_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    Dialogue result;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) return result;
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool answered = false;
    for (;;) {
        if (std::chrono::steady_clock::now() > end) ::kill(pid, SIGKILL);
        pollfd readable{terminal, POLLIN, 0};
        if (::poll(&readable, 1, 100) == 0) continue;
        char bytes[4096];
        const ssize_t n = ::read(terminal, bytes, sizeof bytes);
        if (n <= 0) break;
        result.screen.append(bytes, static_cast<size_t>(n));
        if (!answered && result.screen.find(question) != std::string::npos) {
            const std::string line = answer + "\n";
            answered = ::write(terminal, line.data(), line.size()) == ssize_t(line.size());
        }
    }
    ::close(terminal);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid)
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool exists(const SampleServer& server, const std::string& path) {
    return runTool({"stat", server.node(path)}).status == 0;
}

TEST(ToolRmSafety, DryRunRemovesNothing) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const ToolResult dry = runTool({"rm", "-r", "--dry-run", server.node(REEL)});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, "Would remove " + server.node(REEL) + " with 2 children\n");
    EXPECT_TRUE(exists(server, REEL + "/Shot 010"));
    // Checked as a real removal is: a subtree without -r, a wrong path.
    EXPECT_EQ(runTool({"rm", "--dry-run", server.node(REEL)}).status, 2);
    EXPECT_EQ(runTool({"rm", "--dry-run", server.node(REEL + "/Nowhere")}).status, 1);
}

TEST(ToolRmSafety, ASubtreeOnATerminalIsRemovedOnlyWhenConfirmed) {
    SampleServer server;
    ASSERT_TRUE(server.running());
    const std::string question = "remove 1 node with 2 children and everything under them? [y/N]";
    const struct {
        std::vector<std::string> options;
        std::string answer;
        int status;
        bool removed;
    } cases[] = {
        {{"-r"}, "n", 2, false},
        {{"-r"}, "", 2, false},
        {{"-r", "--dry-run"}, "y", 0, false},  // never asks
        {{"-r"}, "y", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options) + " answered '" + c.answer + "'");
        std::vector<std::string> args{"rm"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(server.node(REEL));
        const Dialogue run = runAnswering(args, question, c.answer);
        EXPECT_EQ(run.status, c.status) << run.screen;
        EXPECT_EQ(run.screen.find(question) != std::string::npos, c.options.size() == 1)
            << run.screen;
        EXPECT_EQ(exists(server, REEL), !c.removed);
    }
    // -f asks nothing, and a node without children never asks.
    const std::string other = "/Volume 1/Feature Film/Vault/Main/Reel 1";
    const Dialogue forced = runAnswering({"rm", "-r", "-f", server.node(other)}, "[y/N]", "n");
    EXPECT_EQ(forced.status, 0) << forced.screen;
    EXPECT_EQ(forced.screen.find("[y/N]"), std::string::npos);
    EXPECT_FALSE(exists(server, other));
}

}  // namespace
