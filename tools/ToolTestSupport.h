// Helpers of the vantrel tool's tests: running the built tool as a child process (all at
// once, or line by line for `watch`), and vantreld serving a fresh sample tree on loopback.
// Run the tests inside a private network namespace (scripts/in-netns.sh).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "ServerHandleTestSupport.h"
#include "VantreldProcess.h"

namespace tool_testing {

using client_testing::TempDir;

struct ToolResult {
    int status = -1;  // exit status, 128 + signal, or -1 when it could not run
    std::string out;
    std::string err;
};

// A running `vantrel ARGS...` with pipes on its standard input, output and error, in the
// UTF-8 C locale (extra environment words "NAME=VALUE" may be added). Killed by the destructor
// when still running.
class ToolProcess {
public:
    explicit ToolProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {}) {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> all{VANTREL_TOOL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        std::vector<std::string> env{"LC_ALL=C.UTF-8"};
        for (char** e = environ; *e != nullptr; ++e)
            if (std::string(*e).rfind("LC_ALL=", 0) != 0) env.push_back(*e);
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (std::string& word : env) envp.push_back(&word[0]);
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        input_ = in[1];
        output_ = out[0];
        errors_ = err[0];
    }
    ~ToolProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait(5000);
        }
        for (int fd : {input_, output_, errors_})
            if (fd >= 0) ::close(fd);
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Writes `text` to the tool's standard input and closes it.
    void closeInput(const std::string& text = "") {
        if (input_ < 0) return;
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(input_, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ::close(input_);
        input_ = -1;
    }
    // Reads both outputs until standard output holds `part` (or standard error does, with
    // `fromErrors`); false when the tool ends or `timeoutMs` passes first.
    bool waitFor(const std::string& part, int timeoutMs, bool fromErrors = false) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const std::string& text = fromErrors ? result_.err : result_.out;
        while (text.find(part) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || !readSome(50)) return false;
        }
        return true;
    }
    void signal(int number) {
        if (pid_ > 0) ::kill(pid_, number);
    }
    // Reads everything and waits for the end (the tool is killed after `timeoutMs`).
    const ToolResult& finish(int timeoutMs = 60000) {
        closeInput();
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (readSome(100)) {
            if (std::chrono::steady_clock::now() > end) signal(SIGKILL);
        }
        wait(timeoutMs);
        return result_;
    }
    const ToolResult& result() const { return result_; }

private:
    // Reads what the tool wrote within `waitMs`; false once both outputs are at their end.
    bool readSome(int waitMs) {
        pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
        if (output_ < 0 && errors_ < 0) return false;
        if (::poll(fds, 2, waitMs) <= 0) return true;
        drain(output_, fds[0].revents, result_.out);
        drain(errors_, fds[1].revents, result_.err);
        return output_ >= 0 || errors_ >= 0;
    }
    static void drain(int& fd, short events, std::string& into) {
        if (fd < 0 || events == 0) return;
        char bytes[65536];
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        if (n > 0) {
            into.append(bytes, static_cast<size_t>(n));
        } else {
            ::close(fd);
            fd = -1;
        }
    }
    void wait(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                pid_ = -1;
            } else if (std::chrono::steady_clock::now() > end) {
                ::kill(pid_, SIGKILL);
            } else {
                ::usleep(2000);
            }
        }
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int errors_ = -1;
    ToolResult result_;
};

// Runs `vantrel ARGS...` to its end with `input` on its standard input.
inline ToolResult runTool(const std::vector<std::string>& args, const std::string& input = "",
                          const std::vector<std::string>& environment = {}) {
    ToolProcess tool(args, environment);
    tool.closeInput(input);
    return tool.finish();
}

// vantreld serving a fresh sample tree on 127.0.0.1, ports chosen by the system, discovery
// off unless `extraArgs` ask for it.
// Writes `count` folders "Item 000000"... under a new folder "Wide" of "/Volume 1" of the sample
// tree in folder `tree`, in the tree's own files, before a server opens it: making them through
// a server would take minutes.
inline void addWideFolder(const std::string& tree, int count) {
    const auto field = [](const std::string& key, const std::string& value) {
        return key + " " + std::to_string(value.size()) + " " + value;
    };
    const std::string rest =
        "Fmt 76 w 1 1h 1 1bpp 2 24nch 1 3sz 1 1asp 1 1rate 2 30fmt 0 scan 1 0metag 0 meta 0 "
        "FrameRuns 0 NextFrame 1 0Paths 2 0 PathsHost 0 PathsOSType 1 0PathsOSVersion 0 ";
    const auto folder = [&](int serial, const std::string& parent, const std::string& name) {
        const std::string dir = tree + "/nodes/" + std::to_string(serial);
        ::mkdir(dir.c_str(), 0755);
        std::ofstream(dir + "/node.attr")
            << field("Id", "folder " + std::to_string(serial)) + field("Parent", parent) +
                   field("Type", "FOLDER") + field("Displ", name) + rest;
    };
    const int first = 100000;
    folder(first, "volume 2", "Wide");
    char name[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "Item %06d", i);
        folder(first + 1 + i, "folder " + std::to_string(first), name);
    }
    std::ifstream in(tree + "/vantreld.attr");
    std::string identity((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string limit = std::to_string(first + count + 1);
    identity = std::regex_replace(identity, std::regex("SerialLimit [0-9]+ [0-9]+"),
                                  field("SerialLimit", limit));
    std::ofstream(tree + "/vantreld.attr") << identity;
}

class SampleServer {
public:
    static constexpr int READY_WITHIN_MS = 60000;

    // Changes the sample tree (its folder given) before the server opens it.
    using TreeEdit = std::function<void(const std::string& tree)>;

    // `config`, when not empty, becomes the server's configuration file. The tree is in memory
    // when `editTree` is given (it may write many nodes).
    explicit SampleServer(std::vector<std::string> extraArgs = {"--no-discovery"},
                          const std::string& config = "", const TreeEdit& editTree = nullptr)
        : dir_(editTree ? TempDir::IN_MEMORY : TempDir::ON_DISK) {
        if (!config.empty()) {
            std::ofstream(dir_ / "server.cfg") << config;
            extraArgs.insert(extraArgs.end(), {"--config", dir_ / "server.cfg"});
        }
        const std::string tree = dir_ / "tree";
        vantreld::testing::VantreldProcess init({"--init-sample", tree});
        if (init.waitForExit(30000) != 0) return;
        if (editTree) editTree(tree);
        std::vector<std::string> args{"--port", "0", "--no-sync", "--log", dir_ / "log"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        args.push_back(tree);
        process_ = std::make_unique<vantreld::testing::VantreldProcess>(args);
        // A sanitizer build on a loaded machine takes many seconds to load a wide tree.
        port_ = process_->waitUntilReady(READY_WITHIN_MS);
    }

    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    // "127.0.0.1:PORT"
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }
    // "127.0.0.1:PORT:" followed by `path` ("/Volume 1", say).
    std::string node(const std::string& path = "") const { return id() + ":" + path; }
    const TempDir& dir() const { return dir_; }
    void stop() { process_.reset(); }

private:
    TempDir dir_;
    std::unique_ptr<vantreld::testing::VantreldProcess> process_;
    int port_ = -1;
};

}  // namespace tool_testing
