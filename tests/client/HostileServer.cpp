#include "HostileServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace hostile {

namespace {

constexpr int POLL_SLICE_MS = 50;
constexpr size_t FILL_CHUNK = 64 * 1024;

// The IPv4 socket address of `host`:`port`.
sockaddr_in socketAddress(const std::string& host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

// A listening socket on `host` at a port the system picks; -1 on failure.
int listenOn(const std::string& host, int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = socketAddress(host, 0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Waits until `fd` has `events` or `stop` is set; true for the former.
bool waitFor(int fd, short events, const std::atomic<bool>& stop, int timeoutMs = -1) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stop) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, POLL_SLICE_MS);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= end) return false;
    }
    return false;
}

bool writeAll(int fd, const char* data, size_t size, const std::atomic<bool>& stop) {
    while (size > 0) {
        if (!waitFor(fd, POLLOUT, stop)) return false;
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Sends the bytes of `bytes` in order, as a sequence of pieces.
class PieceWriter {
public:
    PieceWriter(int fd, const Bytes& bytes, const std::atomic<bool>& stop)
        : fd_(fd), bytes_(bytes), stop_(stop) {}

    bool write(const char* data, size_t size) {
        if (bytes_.piece == 0) return writeAll(fd_, data, size, stop_);
        while (size > 0) {
            const size_t n = std::min(size, bytes_.piece);
            if (!writeAll(fd_, data, n, stop_)) return false;
            data += n;
            size -= n;
            if (bytes_.pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(bytes_.pauseMs));
        }
        return !stop_;
    }
    bool fill() {
        if (bytes_.fillBytes == 0 || bytes_.fillPattern.empty()) return true;
        std::string chunk;
        while (chunk.size() < FILL_CHUNK) chunk += bytes_.fillPattern;
        // Whole patterns per chunk, so that the pattern runs on across chunks.
        chunk.resize(chunk.size() / bytes_.fillPattern.size() * bytes_.fillPattern.size());
        size_t left = bytes_.fillBytes;
        while (left > 0) {
            const size_t n = std::min(left, chunk.size());
            if (!write(chunk.data(), n)) return false;
            left -= n;
        }
        return true;
    }

private:
    int fd_;
    const Bytes& bytes_;
    const std::atomic<bool>& stop_;
};

void closeSocket(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The method word of a request line: the third space-separated word.
std::string methodOf(const std::string& line) {
    size_t start = 0;
    for (int word = 0; word < 2; ++word) {
        start = line.find(' ', start);
        if (start == std::string::npos) return "";
        ++start;
    }
    return line.substr(start, line.find(' ', start) - start);
}

}  // namespace

bool sendBytes(int fd, const Bytes& bytes, const std::atomic<bool>& stop) {
    if (bytes.silent) return true;
    PieceWriter writer(fd, bytes, stop);
    return writer.write(bytes.head.data(), bytes.head.size()) && writer.fill() &&
           writer.write(bytes.tail.data(), bytes.tail.size());
}

std::string escape(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        if (c == '\n')
            escaped += "\\n";
        else if (c == '\t')
            escaped += "\\t";
        else if (c == '\\')
            escaped += "\\\\";
        else
            escaped += c;
    }
    return escaped;
}

std::string okLine(const std::string& value) { return "ok " + escape(value) + "\n"; }
std::string errorLine(const std::string& value) { return "error " + escape(value) + "\n"; }

std::string attribute(const std::string& name, const std::string& value) {
    return name + " " + std::to_string(value.size()) + " " + value;
}

// ------------------------------------------------------------------------ HostileServer

HostileServer::HostileServer(const std::string& host) : host_(host) {
    nodeListener_ = listenOn(host_, nodePort_);
    frameListener_ = listenOn(host_, framePort_);
    if (!ok()) return;
    nodeAcceptor_ = std::thread([this] { acceptLoop(nodeListener_, false); });
    frameAcceptor_ = std::thread([this] { acceptLoop(frameListener_, true); });
}

HostileServer::~HostileServer() {
    stop_ = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // Wakes a client that waits on a stalled answer: it reads the end of the stream.
        for (const int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    }
    // Connection threads are only added by the accept loops, which end first.
    if (nodeAcceptor_.joinable()) nodeAcceptor_.join();
    if (frameAcceptor_.joinable()) frameAcceptor_.join();
    for (std::thread& thread : served_) thread.join();
    for (int fd : connections_) closeSocket(fd);
    closeSocket(nodeListener_);
    closeSocket(frameListener_);
}

std::string HostileServer::serverId() const { return host_ + ":" + std::to_string(nodePort_); }

void HostileServer::answer(const std::string& method, const Bytes& reply) {
    std::lock_guard<std::mutex> guard(lock_);
    answers_[method] = reply;
}

void HostileServer::forgetAnswers() {
    std::lock_guard<std::mutex> guard(lock_);
    answers_.clear();
}

void HostileServer::answerFrames(const Bytes& reply) {
    std::lock_guard<std::mutex> guard(lock_);
    frameAnswer_ = reply;
}

std::string HostileServer::daemonRecord() const {
    return attribute("IP0", host_) + attribute("FrameIP0", host_) +
           attribute("NodePort", std::to_string(nodePort_)) +
           attribute("FramePort", std::to_string(framePort_)) +
           attribute("VersionMajor", "2015") + attribute("VersionMinor", "0") +
           attribute("VersionMaint", "0") + attribute("VersionBuild", "5858");
}

std::vector<std::string> HostileServer::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void HostileServer::acceptLoop(int listener, bool frames) {
    while (waitFor(listener, POLLIN, stop_)) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> guard(lock_);
        connections_.push_back(fd);
        served_.emplace_back([this, fd, frames] { frames ? serveFrames(fd) : serveNode(fd); });
    }
}

Bytes HostileServer::answerFor(const std::string& method) const {
    std::lock_guard<std::mutex> guard(lock_);
    const auto scripted = answers_.find(method);
    if (scripted != answers_.end()) return scripted->second;
    Bytes sound;
    if (method == "_login" || method == "Ping" || method == "_ping")
        sound.head = okLine("");
    else if (method == "GetDaemonInfo")
        sound.head = okLine(daemonRecord());
    else
        sound.head = errorLine("Unknown method: " + method);
    return sound;
}

void HostileServer::serveNode(int fd) {
    std::string pending;
    char buffer[4096];
    while (waitFor(fd, POLLIN, stop_)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            {
                std::lock_guard<std::mutex> guard(lock_);
                requests_.push_back(line);
            }
            const Bytes reply = answerFor(methodOf(line));
            if (line.compare(0, 5, "sync ") != 0) continue;  // no reply to asynchronous calls
            if (!sendBytes(fd, reply, stop_) || reply.close) {
                ::shutdown(fd, SHUT_RDWR);
                return;
            }
        }
    }
}

// Every burst of request bytes gets the frame answer once; the request's form is not read,
// so that any answer can come at any point.
void HostileServer::serveFrames(int fd) {
    char buffer[4096];
    while (waitFor(fd, POLLIN, stop_)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        // Let the rest of the request arrive, so that one request gets one answer.
        while (waitFor(fd, POLLIN, stop_, 20) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        Bytes reply;
        {
            std::lock_guard<std::mutex> guard(lock_);
            reply = frameAnswer_;
        }
        if (!sendBytes(fd, reply, stop_) || reply.close) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

// --------------------------------------------------------------------- HostileDatagrams

HostileDatagrams::HostileDatagrams(const std::string& host) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = socketAddress(host, 0);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeSocket(fd_);
        return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

HostileDatagrams::~HostileDatagrams() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closeSocket(fd_);
}

void HostileDatagrams::answer(const std::vector<std::string>& datagrams) {
    std::lock_guard<std::mutex> guard(lock_);
    answers_ = datagrams;
}

bool HostileDatagrams::sendTo(const std::string& address, int port,
                              const std::string& datagram) {
    in_addr loopback{};
    loopback.s_addr = htonl(INADDR_LOOPBACK);
    ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) return false;
    return ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(datagram.size());
}

void HostileDatagrams::serve() {
    std::vector<char> buffer(65536);
    while (waitFor(fd_, POLLIN, stop_)) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        if (::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sender),
                       &length) < 0)
            continue;
        std::vector<std::string> answers;
        {
            std::lock_guard<std::mutex> guard(lock_);
            answers = answers_;
        }
        for (const std::string& datagram : answers)
            ::sendto(fd_, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<sockaddr*>(&sender), length);
    }
}

// -------------------------------------------------------------------------- HostilePeer

HostilePeer::HostilePeer(int port, const std::string& from) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in source = socketAddress(from, 0);
    const sockaddr_in address = socketAddress("127.0.0.1", port);
    if (fd_ >= 0 &&
        (::bind(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
         ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0))
        closeSocket(fd_);
}

HostilePeer::~HostilePeer() { closeSocket(fd_); }

bool HostilePeer::send(const Bytes& bytes) {
    if (fd_ < 0) return false;
    const bool sent = sendBytes(fd_, bytes, stop_);
    if (bytes.close) closeSocket(fd_);
    return sent;
}

bool HostilePeer::readLine(std::string& line, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (fd_ >= 0) {
        const size_t at = pending_.find('\n');
        if (at != std::string::npos) {
            line = pending_.substr(0, at);
            pending_.erase(0, at + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitFor(fd_, POLLIN, stop_, static_cast<int>(left.count())))
            return false;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<size_t>(n));
    }
    return false;
}

bool HostilePeer::closedWithin(int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[4096];
    while (fd_ >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitFor(fd_, POLLIN, stop_, static_cast<int>(left.count())))
            return false;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0) return false;
    }
    return false;
}

}  // namespace hostile
