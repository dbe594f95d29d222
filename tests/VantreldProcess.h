// Starts the vantreld program as a child process for a test, reads the ready line it prints
// ("vantreld ready: node_port=N KEY=VALUE ..."), and stops it (SIGKILL when the test does not
// stop it otherwise). Its standard error goes to the test's own, or to a pipe the test may
// read (errors()) or leave unread.
//
// A test process that dies without running its destructors (a crash, an abort) takes its
// servers with it: they get SIGKILL when the thread that started them ends, so none is left
// holding the test runner's output open until the runner's time-out. Start servers on a thread
// that outlives them (the test's own).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vantreld {
namespace testing {

class VantreldProcess {
public:
    enum class Errors { INHERITED, PIPE };

    // Runs `VANTRELD_PATH args...` with its standard output on a pipe; with a `launcher`
    // ("ip netns exec NAME", say), runs `launcher... VANTRELD_PATH args...` instead.
    explicit VantreldProcess(const std::vector<std::string>& args,
                             const std::vector<std::string>& launcher = {},
                             Errors errors = Errors::INHERITED)
        : pid_(-1), output_(-1) {
        int pipeEnds[2], errorEnds[2] = {-1, -1};
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
        if (errors == Errors::PIPE && ::pipe2(errorEnds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        if (errors == Errors::PIPE)
            posix_spawn_file_actions_adddup2(&actions, errorEnds[1], STDERR_FILENO);
        std::vector<std::string> all = diesWithItsStarter();
        all.insert(all.end(), launcher.begin(), launcher.end());
        all.push_back(VANTRELD_PATH);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
        if (errors == Errors::PIPE) {
            ::close(errorEnds[1]);
            errors_ = errorEnds[0];
        }
    }
    VantreldProcess(const std::vector<std::string>& args, Errors errors)
        : VantreldProcess(args, {}, errors) {}
    ~VantreldProcess() {
        kill(SIGKILL);
        waitForExit(5000);
        if (output_ >= 0) ::close(output_);
        if (errors_ >= 0) ::close(errors_);
    }
    VantreldProcess(const VantreldProcess&) = delete;
    VantreldProcess& operator=(const VantreldProcess&) = delete;

    // Reads standard output until the ready line; the node port it names, or -1.
    int waitUntilReady(int timeoutMs = 10000) {
        const std::string marker = "vantreld ready: ";
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end && output_ >= 0) {
            const size_t at = printed_.find(marker);
            const size_t lineEnd = at == std::string::npos ? at : printed_.find('\n', at);
            if (lineEnd != std::string::npos) {
                ready_ = parseFields(printed_.substr(at + marker.size(), lineEnd - at - marker.size()));
                const auto port = ready_.find("node_port");
                return port == ready_.end() ? -1 : std::atoi(port->second.c_str());
            }
            if (!readSome(output_, printed_, 100)) break;
        }
        return -1;
    }
    // A field of the ready line ("" when absent or not ready yet).
    std::string readyField(const std::string& key) const {
        const auto found = ready_.find(key);
        return found == ready_.end() ? std::string() : found->second;
    }
    // The fields of a ready line's rest: space-separated KEY=VALUE words; a word without '='
    // continues the value before it (a directory with spaces).
    static std::map<std::string, std::string> parseFields(const std::string& text) {
        std::map<std::string, std::string> fields;
        std::string last;
        size_t start = 0;
        while (start <= text.size()) {
            size_t space = text.find(' ', start);
            if (space == std::string::npos) space = text.size();
            const std::string word = text.substr(start, space - start);
            const size_t equals = word.find('=');
            if (equals != std::string::npos && equals > 0) {
                last = word.substr(0, equals);
                fields[last] = word.substr(equals + 1);
            } else if (!last.empty()) {
                fields[last] += " " + word;
            }
            start = space + 1;
        }
        return fields;
    }
    // Standard error read so far (Errors::PIPE), reading for up to `waitMs` more.
    const std::string& errors(int waitMs = 0) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (errors_ >= 0 && readSome(errors_, errorText_, 0)) {
        }
        while (errors_ >= 0 && std::chrono::steady_clock::now() < end &&
               readSome(errors_, errorText_, 20)) {
        }
        return errorText_;
    }
    pid_t pid() const { return pid_; }

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
    // The prefix that gives the program SIGKILL when its starting thread ends (util-linux's
    // setpriv; none where it is missing).
    static std::vector<std::string> diesWithItsStarter() {
        const char* const setpriv = "/usr/bin/setpriv";
        if (::access(setpriv, X_OK) != 0) return {};
        return {setpriv, "--pdeathsig", "KILL", "--"};
    }

    // Reads what `fd` has within `waitMs` into `out`; false at its end or when nothing came.
    static bool readSome(int fd, std::string& out, int waitMs) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return waitMs > 0;
        char bytes[4096];
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n <= 0) return false;
        out.append(bytes, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_;
    int output_;
    int errors_ = -1;
    std::string errorText_;
    std::map<std::string, std::string> ready_;
    int status_ = -1;
    std::string printed_;
};

}  // namespace testing
}  // namespace vantreld
