// Helpers of the transfer subcommands' tests: whole local files, tables of failing runs, and
// the built vantrel tool run on a pseudo-terminal (the progress bar draws only on a terminal).
#pragma once

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace tool_testing {

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A run of the tool that must fail with `status`, saying `says` in its one line on standard
// error and writing nothing on standard output.
struct FailingRun {
    std::vector<std::string> args;
    int status;
    std::string says;
};

inline void expectFailures(const std::vector<FailingRun>& runs) {
    for (const FailingRun& run : runs) {
        const ToolResult result = runTool(run.args);
        EXPECT_EQ(result.status, run.status) << run.says << "\n" << result.err;
        EXPECT_NE(result.err.find(run.says), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.out, "") << run.says;
    }
}

struct TerminalResult {
    int status = -1;     // exit status, 128 + signal, or -1 when it could not run
    std::string screen;  // everything written to the terminal
};

// Runs `vantrel ARGS...` with the terminal as its standard input, output and error, and
// reads what it shows until it ends.
inline TerminalResult runOnTerminal(const std::vector<std::string>& args, int timeoutMs = 60000) {
    std::vector<std::string> all{VANTREL_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 160;
    TerminalResult result;
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0) return result;
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {  // the terminal reads as ended (EIO) once the tool and its descriptors are gone
        pollfd readable{terminal, POLLIN, 0};
        if (std::chrono::steady_clock::now() > end) ::kill(pid, SIGKILL);
        if (::poll(&readable, 1, 100) == 0) continue;
        char bytes[4096];
        const ssize_t n = ::read(terminal, bytes, sizeof bytes);
        if (n <= 0) break;
        result.screen.append(bytes, static_cast<size_t>(n));
    }
    ::close(terminal);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid)
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

}  // namespace tool_testing
