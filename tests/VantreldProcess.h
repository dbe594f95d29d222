// Starts the vantreld program as a child process for a test, reads the port it prints when
// ready, and stops it (SIGKILL when the test does not stop it otherwise).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vantreld {
namespace testing {

class VantreldProcess {
public:
    // Runs `VANTRELD_PATH args...` with its standard output on a pipe.
    explicit VantreldProcess(const std::vector<std::string>& args) : pid_(-1), output_(-1) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        std::vector<std::string> all{VANTRELD_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, VANTRELD_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
    }
    ~VantreldProcess() {
        kill(SIGKILL);
        waitForExit(5000);
        if (output_ >= 0) ::close(output_);
    }
    VantreldProcess(const VantreldProcess&) = delete;
    VantreldProcess& operator=(const VantreldProcess&) = delete;

    // Reads standard output until the ready line; the node port it names, or -1.
    int waitUntilReady(int timeoutMs = 10000) {
        const std::string marker = "vantreld ready: node_port=";
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end && output_ >= 0) {
            const size_t at = printed_.find(marker);
            if (at != std::string::npos && printed_.find('\n', at) != std::string::npos)
                return std::stoi(printed_.substr(at + marker.size()));
            pollfd p{output_, POLLIN, 0};
            if (::poll(&p, 1, 100) == 1) {
                char bytes[512];
                const ssize_t n = ::read(output_, bytes, sizeof bytes);
                if (n <= 0) break;
                printed_.append(bytes, static_cast<size_t>(n));
            }
        }
        return -1;
    }

    // After waitUntilReady(): the frame port of the ready line, or -1.
    int framePort() const {
        const std::string marker = " frame_port=";
        const size_t at = printed_.find(marker);
        return at == std::string::npos ? -1 : std::atoi(printed_.c_str() + at + marker.size());
    }

    void kill(int signal) {
        if (pid_ > 0) ::kill(pid_, signal);
    }
    // The exit status (WEXITSTATUS, or 128 + signal), or -1 when still running after the wait.
    int waitForExit(int timeoutMs) {
        if (pid_ <= 0) return status_;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            if (std::chrono::steady_clock::now() > end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    const std::string& printed() const { return printed_; }

private:
    pid_t pid_;
    int output_;
    int status_ = -1;
    std::string printed_;
};

}  // namespace testing
}  // namespace vantreld
