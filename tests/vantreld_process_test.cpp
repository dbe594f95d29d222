// The harness that starts vantreld for the tests: a test process that dies without running its
// destructors does not leave its servers running behind it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "VantreldProcess.h"
#include "vantrel/server/ServerTestSupport.h"

using vantreld::testing::TempDir;
using vantreld::testing::VantreldProcess;

namespace {

// True while `pid` is a process that has not ended (a zombie has ended).
bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    if (!(stat >> pidField >> name >> state)) return false;
    return state != "Z" && state != "X";
}

bool endsWithin(pid_t pid, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (running(pid)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts a server in a child process that then ends at once, without its destructors, as in a
// crash; the server's process id, or -1. (A forking test: the name keeps it out of the
// ThreadSanitizer run.)
pid_t serverOfAnAbruptlyEndedProcess(const std::string& tree) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        // Its standard error is a pipe: a server left behind holds no test output open.
        auto* server = new VantreldProcess({"--port", "0", "--no-discovery", tree},
                                           VantreldProcess::Errors::PIPE);
        const pid_t pid = server->waitUntilReady() > 0 ? server->pid() : -1;
        std::_Exit(::write(ends[1], &pid, sizeof pid) == sizeof pid ? 0 : 1);
    }
    ::close(ends[1]);
    pid_t pid = -1;
    if (child < 0 || ::read(ends[0], &pid, sizeof pid) != sizeof pid) pid = -1;
    ::close(ends[0]);
    if (child > 0) ::waitpid(child, nullptr, 0);
    return pid;
}

TEST(VantreldProcessDeathTest, ServersEndWithATestProcessThatDiesAbruptly) {
    TempDir dir;
    const pid_t pid = serverOfAnAbruptlyEndedProcess(dir / "tree");
    ASSERT_GT(pid, 0) << "vantreld did not start";
    const bool ended = endsWithin(pid, std::chrono::seconds(10));
    if (!ended) ::kill(pid, SIGKILL);
    EXPECT_TRUE(ended) << "vantreld " << pid << " outlived the test process that started it";
}

}  // namespace
