// Helpers for the remote-call tests: a server with methods of each kind, a thread that runs a
// server context's loop, and plain loopback sockets made with bare system calls (so that the
// code under test is checked against peers it did not build, including hostile ones).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/CoException.h"
#include "rcApi/rcAppContext.h"
#include "rcApi/rcConnectionInfo.h"
#include "rcApi/rcMessage.h"
#include "rcApi/rcServerContext.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace testing {

// Runs callIOHandlers() of a context on its own thread, in short passes, until destroyed.
// Work that must happen on the loop's thread is handed over with runOnLoop().
class LoopThread {
public:
    explicit LoopThread(rcAppContext& context)
        : context_(context), stop_(false), thread_([this] { run(); }) {}
    ~LoopThread() {
        stop_ = true;
        thread_.join();
    }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    // Runs `task` on the loop's thread between two passes and waits until it has run.
    void runOnLoop(std::function<void()> task) {
        std::unique_lock<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        const size_t ticket = ++queued_;
        done_.wait(lock, [&] { return finished_ >= ticket; });
    }

private:
    void run() {
        while (!stop_) {
            struct timeval pass = {0, 20000};
            context_.callIOHandlers(false, pass);
            std::vector<std::function<void()>> tasks;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                tasks.swap(tasks_);
            }
            for (auto& task : tasks) task();
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ += tasks.size();
            done_.notify_all();
        }
    }

    rcAppContext& context_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::function<void()>> tasks_;
    size_t queued_ = 0;
    size_t finished_ = 0;
    std::atomic<bool> stop_;
    std::thread thread_;
};

// Polls `condition` until it holds or `seconds` have passed.
inline bool eventually(const std::function<bool()>& condition, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A connected loopback TCP socket, owned (the peer side of a connection under test).
class PeerSocket {
public:
    explicit PeerSocket(int fd = -1) : fd_(fd) {}
    PeerSocket(PeerSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ~PeerSocket() { close(); }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    static PeerSocket connectTo(int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return PeerSocket();
        }
        return PeerSocket(fd);
    }

    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // Sends all of `bytes`; false when the peer has gone.
    bool send(const std::string& bytes) { return send(bytes.data(), bytes.size()); }
    bool send(const char* bytes, size_t count) {
        while (count > 0) {
            const ssize_t n = ::send(fd_, bytes, count, MSG_NOSIGNAL);
            if (n <= 0) return false;
            bytes += n;
            count -= static_cast<size_t>(n);
        }
        return true;
    }

    // Reads up to and including the next line feed; "" when the time ran out or the peer
    // closed first (closedByPeer() tells which).
    std::string readLine(int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t lf = pending_.find('\n');
            if (lf != std::string::npos) {
                std::string line = pending_.substr(0, lf + 1);
                pending_.erase(0, lf + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !fill(static_cast<int>(left.count()))) return "";
        }
    }

    // True when the peer closed the connection within `timeoutMs` (after any pending bytes).
    bool closedByPeer(int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!peerClosed_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            fill(static_cast<int>(left.count()));
        }
        return true;
    }

    // Nothing arrives within `timeoutMs`.
    bool silentFor(int timeoutMs) {
        if (!pending_.empty()) return false;
        return !fill(timeoutMs) && !peerClosed_;
    }

private:
    // Waits up to `timeoutMs` for bytes; true when some came.
    bool fill(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return false;
        char bytes[65536];
        const ssize_t n = ::recv(fd_, bytes, sizeof bytes, 0);
        if (n <= 0) {
            peerClosed_ = true;
            return false;
        }
        pending_.append(bytes, static_cast<size_t>(n));
        return true;
    }

    int fd_;
    std::string pending_;
    bool peerClosed_ = false;
};

// A listening loopback socket on a port the system picks.
class PeerListener {
public:
    PeerListener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)), port_(0) {
        sockaddr_in address = PeerSocket::loopback(0);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 5);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~PeerListener() { ::close(fd_); }
    PeerListener(const PeerListener&) = delete;
    PeerListener& operator=(const PeerListener&) = delete;

    int port() const { return port_; }
    PeerSocket accept() { return PeerSocket(::accept(fd_, nullptr, nullptr)); }

private:
    int fd_;
    int port_;
};

// A server with a few methods of each kind, listening on a port the system picks.
class TestServer : public rcServerContext {
public:
    TestServer() : rcServerContext(-1) {
        static const rcParam::Info oneString[] = {{&rcParamString::TYPE, "text"}, {nullptr, nullptr}};
        static const rcParam::Info twoInts[] = {
            {&rcParamInt::TYPE, "a"}, {&rcParamInt::TYPE, "b"}, {nullptr, nullptr}};
        registerMethod(rcMethod(*this, "Echo", echo, rcParamString::TYPE, oneString));
        registerMethod(rcMethod(*this, "Add", add, rcParamInt::TYPE, twoInts));
        registerMethod(rcMethod(*this, "Fail", fail, rcParamVoid::TYPE, nullptr));
        registerMethod(rcMethod(*this, "Throw", throwing, rcParamVoid::TYPE, nullptr));
        registerMethod(rcMethod(*this, "Count", count, rcParamVoid::TYPE, nullptr));
        registerMethod(rcMethod(*this, "Whoami", whoami, rcParamString::TYPE, nullptr));
        registerMethod(
            rcMethod(*this, "Later", later, rcParamVoid::TYPE, nullptr, rcMethod::DELAYED));
    }

    bool login(const rcConnectionInfo& info) override {
        lastLogin = info.getUserName();
        return acceptLogins;
    }

    std::atomic<bool> acceptLogins{true};
    std::atomic<int> calls{0};
    std::atomic<unsigned int> waitingClient{0};
    std::string lastLogin;  // loop thread only

    static TestServer& of(const rcMethod& method) {
        return static_cast<TestServer&>(method.getServerContext());
    }

private:
    static bool echo(void*, const rcMethod&, const rcParam::Array& params, rcParam& result) {
        result.setStringValue(params[0]->stringValue());
        return true;
    }
    static bool add(void*, const rcMethod&, const rcParam::Array& params, rcParam& result) {
        result.setIntValue(params[0]->intValue() + params[1]->intValue());
        return true;
    }
    static bool fail(void*, const rcMethod& method, const rcParam::Array&, rcParam&) {
        method.setLastError("no such clip");
        return false;
    }
    static bool throwing(void*, const rcMethod&, const rcParam::Array&, rcParam&) {
        throw CoException("disk full", __LINE__, __FILE__);
    }
    static bool count(void*, const rcMethod& method, const rcParam::Array&, rcParam&) {
        ++of(method).calls;
        return true;
    }
    static bool whoami(void* object, const rcMethod&, const rcParam::Array&, rcParam& result) {
        result.setStringValue(object != nullptr ? static_cast<const char*>(object) : "nobody");
        return true;
    }
    static bool later(void*, const rcMethod& method, const rcParam::Array&, rcParam&) {
        of(method).waitingClient = of(method).getCurrentClientId();
        return true;
    }
};

inline std::string requestLine(const char* mode, int objectId, const char* method, const char* args) {
    rcCommand command;
    command.setMode(std::string(mode) == "sync" ? rcCommand::SYNC : rcCommand::ASYNC);
    command.setObjectId(objectId);
    command.setMethod(method);
    command.setArgs(args);
    return command.toString();
}

inline std::string loginLine() {
    rcConnectionInfo record;
    record.fillInfo(nullptr);
    return requestLine("sync", 0, "_login", record.toAttrStream());
}

// A TestServer whose loop runs on its own thread for each test, messages from notice level
// captured.
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        CoMsg::setFilterLevel(CoMsg::NOTICE_LEVEL);
        ASSERT_TRUE(server.isValid());
        ASSERT_GT(server.getPort(), 0);
        loop.reset(new LoopThread(server));
    }
    void TearDown() override { loop.reset(); }

    // A connection that has logged in.
    PeerSocket loggedIn() {
        PeerSocket socket = PeerSocket::connectTo(server.getPort());
        EXPECT_TRUE(socket.send(loginLine()));
        EXPECT_EQ("ok \n", socket.readLine());
        return socket;
    }

    MessageCapture capture;
    TestServer server;
    std::unique_ptr<LoopThread> loop;
};

// The most a process may grow while a peer streams bytes without a line feed at it: the line
// limit, doubled for the growth of the parser's buffer and again for freed blocks an allocator
// keeps resident (the sanitizers' quarantine). Without the limit the growth would pass a
// gigabyte.
inline size_t lineCapMemoryBound() { return 4 * CoIoTcpDescriptor::MAX_LINE_LENGTH; }

// Resident memory of this process in bytes.
inline size_t residentBytes() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace testing
}  // namespace Vantrel
