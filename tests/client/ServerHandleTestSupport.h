// Helpers of the client's integration tests: a vantreld on a fresh tree directory on loopback,
// and a counter for the disconnect callback.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <ftw.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VantreldProcess.h"
#include "vantrel/VantrelClientAPI.h"

namespace client_testing {

// A loopback port that nobody listens on: bound once by the system's choice, then released.
inline int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

// The number of descriptors the process has open.
inline int openDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count - 3;  // ".", ".." and the directory's own descriptor
}

// A temporary directory, removed with its contents. IN_MEMORY puts it in /dev/shm when the
// machine has one: a tree of 100,000 nodes is written and removed there in seconds, not minutes
// on a busy disk.
class TempDir {
public:
    enum Place { ON_DISK, IN_MEMORY };

    explicit TempDir(Place place = ON_DISK) {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            if (place == ON_DISK && std::string(base) == "/dev/shm") continue;
            std::string pattern = std::string(base) + "/vantrel-client-test-XXXXXX";
            if (::mkdtemp(&pattern[0]) != nullptr) {
                path_ = pattern;
                return;
            }
        }
    }
    ~TempDir() {
        if (path_.empty()) return;
        ::nftw(
            path_.c_str(),
            [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// vantreld serving a tree of its own on 127.0.0.1. The port is chosen by the system on the
// first start and kept on restart().
class TestServer {
public:
    enum class Tree { EMPTY, SAMPLE };

    // `extraArgs` are passed before the tree directory; `config`, when not empty, becomes the
    // server's configuration file; Tree::SAMPLE starts on the sample tree (--init-sample).
    explicit TestServer(std::vector<std::string> extraArgs = {}, const std::string& config = "",
                        Tree tree = Tree::EMPTY)
        : extraArgs_(std::move(extraArgs)) {
        using vantreld::testing::VantreldProcess;
        if (tree == Tree::SAMPLE &&
            VantreldProcess({"--init-sample", dir_ / tree_}).waitForExit(20000) != 0)
            return;
        if (!config.empty()) {
            std::ofstream(dir_ / "server.cfg") << config;
            extraArgs_.insert(extraArgs_.end(), {"--config", dir_ / "server.cfg"});
        }
        // A port of its own rather than 0: a server that listens on a port it was given
        // reuses the address, so that restart() can take the port again at once.
        framePort_ = freeLoopbackPort();
        start(freeLoopbackPort());
    }

    int port() const { return port_; }
    int framePort() const { return framePort_; }
    bool running() const { return process_ && port_ > 0; }
    // "127.0.0.1:PORT"
    std::string id() const { return "127.0.0.1:" + std::to_string(port_); }

    // Sends `signal` to the server process (SIGSTOP: it still takes connections, through the
    // system's listen queue, but answers nothing until SIGCONT).
    void signal(int signal) {
        if (process_) process_->kill(signal);
    }
    // Kills the server (SIGKILL: no goodbye to its clients) and waits for its end.
    void kill() {
        if (!process_) return;
        process_->kill(SIGKILL);
        process_->waitForExit(5000);
        process_.reset();
    }
    // A new server process on the same port and tree.
    bool restart() {
        kill();
        return start(port_);
    }
    // A new server process on the same port serving the tree called `tree` (a store of its
    // own, made on first use): another server at the same address.
    bool restartOnTree(const std::string& tree) {
        tree_ = tree;
        return restart();
    }

private:
    bool start(int port) {
        std::vector<std::string> args{"--port", std::to_string(port), "--frame-port",
                                      std::to_string(framePort_), "--no-sync"};
        args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
        args.push_back(dir_ / tree_);
        // A port just given up may still be held for a moment: try a few times.
        for (int attempt = 0; attempt < 50; ++attempt) {
            process_.reset(new vantreld::testing::VantreldProcess(args));
            const int ready = process_->waitUntilReady();
            if (ready > 0) {
                port_ = ready;
                return true;
            }
            process_.reset();
            ::usleep(100000);
        }
        return false;
    }

    TempDir dir_;
    std::vector<std::string> extraArgs_;
    std::unique_ptr<vantreld::testing::VantreldProcess> process_;
    std::string tree_ = "tree";
    int port_ = 0;
    int framePort_ = 0;  // kept on restart, like the node port
};

// The application's call ceiling (VantrelClientSetCallTimeout) for a scope.
class CallCeiling {
public:
    explicit CallCeiling(unsigned int ms) { VantrelClientSetCallTimeout(ms); }
    ~CallCeiling() { VantrelClientSetCallTimeout(0); }
    CallCeiling(const CallCeiling&) = delete;
    CallCeiling& operator=(const CallCeiling&) = delete;
};

// Sets the character-type locale for a scope.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) : previous_(std::setlocale(LC_CTYPE, nullptr)) {
        ok_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool ok() const { return ok_; }

private:
    std::string previous_;
    bool ok_;
};

// Records the calls of the process-wide disconnect callback while installed.
class DisconnectRecorder {
public:
    DisconnectRecorder() {
        std::lock_guard<std::mutex> lock(mutex());
        ids_().clear();
        VantrelRegisterDisconnectCallBack(&DisconnectRecorder::record);
    }
    ~DisconnectRecorder() { VantrelRegisterDisconnectCallBack(nullptr); }
    DisconnectRecorder(const DisconnectRecorder&) = delete;
    DisconnectRecorder& operator=(const DisconnectRecorder&) = delete;

    std::vector<std::string> ids() const {
        std::lock_guard<std::mutex> lock(mutex());
        return ids_();
    }

private:
    static void record(const VantrelServerId& id) {
        std::lock_guard<std::mutex> lock(mutex());
        ids_().push_back(id.getId());
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string>& ids_() {
        static std::vector<std::string> v;
        return v;
    }
};

}  // namespace client_testing
