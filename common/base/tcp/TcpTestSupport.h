// Helpers for the transport's tests: a resolver a test controls, an environment variable set
// for one scope, a plain loopback listener and peer socket made with bare system calls (so the
// code under test is checked against something it did not build), and message-level control.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vantrel/CoMsg.h"
#include "tcp/CoIoTcpServerDescriptor.h"
#include "tcp/CoNameResolver.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace testing {

// Answers from tables instead of DNS. Numeric addresses resolve to themselves; other names
// that are not in the table do not resolve.
class FakeResolver : public CoNameResolver {
public:
    // `name` resolves to these numeric addresses, in this order.
    void add(const std::string& name, std::vector<std::string> numericAddresses) {
        std::lock_guard<std::mutex> lock(mutex_);
        table_[name] = std::move(numericAddresses);
    }
    void remove(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        table_.erase(name);
    }
    // Reverse answers: numeric address -> host name.
    void addName(const std::string& numericAddress, const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_[numericAddress] = name;
    }
    // The local host name; empty makes the lookup fail.
    void setLocalHostName(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        localName_ = name;
    }
    int resolveCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return resolveCount_;
    }

    bool resolve(const char* host, const char* service, std::vector<CoSocketAddress>& out,
                 std::string& error) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++resolveCount_;
        const int port = service != nullptr ? std::atoi(service) : 0;
        CoSocketAddress numeric;
        const auto found = table_.find(host);
        if (found == table_.end() && CoSocketAddress::fromNumeric(host, port, numeric)) {
            out.assign(1, numeric);
            return true;
        }
        if (found == table_.end()) {
            error = "Name or service not known";
            return false;
        }
        out.clear();
        for (const std::string& text : found->second) {
            CoSocketAddress address;
            EXPECT_TRUE(CoSocketAddress::fromNumeric(text.c_str(), port, address)) << text;
            out.push_back(address);
        }
        return true;
    }

    bool hostNameOf(const CoSocketAddress& address, bool nameRequired, std::string& out,
                    std::string& error) const override {
        std::string text;
        if (!address.numericHost(text, error)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = names_.find(text);
        if (found != names_.end()) {
            out = found->second;
            return true;
        }
        if (nameRequired) {
            error = "Name or service not known";
            return false;
        }
        out = text;
        return true;
    }

    bool localHostName(std::string& out, std::string& error) const override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (localName_.empty()) {
            error = "No host name";
            return false;
        }
        out = localName_;
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> table_;
    std::map<std::string, std::string> names_;
    std::string localName_ = "testhost";
    mutable int resolveCount_ = 0;
};

// Installs a FakeResolver for the lifetime of the object.
class ScopedFakeResolver : public FakeResolver {
public:
    ScopedFakeResolver() { CoNameResolver::install(this); }
    ~ScopedFakeResolver() override { CoNameResolver::install(nullptr); }
};

// Sets (or, with a null value, removes) an environment variable for one scope, and makes the
// transport read its environment again on the way in and out.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
        CoIoTcpServerDescriptor::reloadEnvironment();
    }
    ~ScopedEnv() {
        if (hadOld_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
        CoIoTcpServerDescriptor::reloadEnvironment();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
};

// Lets debug messages through while alive and records them.
class DebugCapture : public MessageCapture {
public:
    DebugCapture() : saved_(CoMsg::filterLevel()) { CoMsg::setFilterLevel(CoMsg::DEBUGGING_LEVEL); }
    ~DebugCapture() override { CoMsg::setFilterLevel(saved_); }

    bool containsExactly(const std::string& text) const {
        for (const std::string& posted : texts())
            if (posted == text) return true;
        return false;
    }

private:
    CoMsg::Level saved_;
};

// A blocking socket made with bare system calls; closed by the destructor.
class RawSocket {
public:
    explicit RawSocket(int fd = -1) : fd_(fd) {}
    ~RawSocket() { reset(); }
    RawSocket(RawSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    RawSocket& operator=(RawSocket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    int fd() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void sendAll(const std::string& data) const {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            ASSERT_GT(n, 0) << std::strerror(errno);
            done += static_cast<size_t>(n);
        }
    }
    // Reads exactly `size` bytes (fewer when the connection ends first).
    std::string receive(size_t size) const {
        std::string data(size, '\0');
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::recv(fd_, &data[done], size - done, 0);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        data.resize(done);
        return data;
    }
    // Closes with a reset instead of an orderly end.
    void abort() {
        linger option{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        reset();
    }

private:
    int fd_;
};

// A loopback listener on a system-chosen port.
class RawListener {
public:
    explicit RawListener(bool ipv6 = false, int backlog = 16) : ipv6_(ipv6) {
        socket_ = RawSocket(::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
        EXPECT_GE(socket_.fd(), 0);
        sockaddr_storage address = loopback(0);
        EXPECT_EQ(0, ::bind(socket_.fd(), reinterpret_cast<sockaddr*>(&address), length()))
            << std::strerror(errno);
        EXPECT_EQ(0, ::listen(socket_.fd(), backlog));
        socklen_t len = length();
        ::getsockname(socket_.fd(), reinterpret_cast<sockaddr*>(&address), &len);
        port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                           : reinterpret_cast<sockaddr_in&>(address).sin_port);
    }

    int port() const { return port_; }
    const char* host() const { return ipv6_ ? "::1" : "127.0.0.1"; }
    int fd() const { return socket_.fd(); }
    void close() { socket_.reset(); }

    RawSocket accept() const { return RawSocket(::accept(socket_.fd(), nullptr, nullptr)); }

    // A blocking client connection to this listener.
    RawSocket connectClient() const {
        RawSocket client(::socket(ipv6_ ? AF_INET6 : AF_INET, SOCK_STREAM, 0));
        sockaddr_storage address = loopback(port_);
        EXPECT_EQ(0, ::connect(client.fd(), reinterpret_cast<sockaddr*>(&address), length()))
            << std::strerror(errno);
        return client;
    }

private:
    sockaddr_storage loopback(int port) const {
        sockaddr_storage storage{};
        if (ipv6_) {
            auto& a = reinterpret_cast<sockaddr_in6&>(storage);
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            a.sin6_port = htons(static_cast<uint16_t>(port));
        } else {
            auto& a = reinterpret_cast<sockaddr_in&>(storage);
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(port));
        }
        return storage;
    }
    socklen_t length() const { return ipv6_ ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }

    bool ipv6_;
    RawSocket socket_;
    int port_ = -1;
};

// A loopback port on which nobody listens (bound once, then released).
inline int closedLoopbackPort() {
    RawListener listener;
    const int port = listener.port();
    listener.close();
    return port;
}

// A CoIoTcpDescriptor connected to a bare accepted socket on loopback.
struct ConnectedPair {
    explicit ConnectedPair(int sendBufSize = 0, int rcvBufSize = 0)
        : client(listener.host(), listener.port(), sendBufSize, rcvBufSize, 5),
          peer(client.isValid() ? listener.accept() : RawSocket()) {}

    RawListener listener;
    CoIoTcpDescriptor client;
    RawSocket peer;
};

// Lowers this process's descriptor limit for one scope, so that at most `spare` more
// descriptors can be opened (the ones already open stay valid); restores it at the end.
class DescriptorCeiling {
public:
    // False in the sanitizer build: the undefined-behaviour sanitizer checks an object's type
    // through a pipe of its own, which cannot open while the descriptors are out, and then
    // reports every virtual call made meanwhile as a call on a wrong object.
    static bool usableHere() {
#ifdef VANTREL_SANITIZE_BUILD
        return false;
#else
        return true;
#endif
    }

    explicit DescriptorCeiling(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree + spare);
        EXPECT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &lowered));
    }
    ~DescriptorCeiling() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorCeiling(const DescriptorCeiling&) = delete;
    DescriptorCeiling& operator=(const DescriptorCeiling&) = delete;

private:
    rlimit saved_{};
};

}  // namespace testing
}  // namespace Vantrel
