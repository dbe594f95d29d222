#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "vantrel/server/FrameSocket.h"

namespace vantreld {

namespace {
constexpr size_t ZERO_CHUNK = 64 * 1024;
}

FrameSocket::FrameSocket(int fd, const std::string& peer) : fd_(fd), peer_(peer) {}

FrameSocket::~FrameSocket() { ::close(fd_); }

void FrameSocket::read(void* buffer, size_t size) {
    char* bytes = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::recv(fd_, bytes, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw PeerGone();
        bytes += got;
        size -= static_cast<size_t>(got);
    }
}

void FrameSocket::write(const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(fd_, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) throw PeerGone();
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
}

void FrameSocket::writeZeros(size_t size) {
    static const std::vector<char> zeros(ZERO_CHUNK, '\0');
    while (size > 0) {
        const size_t piece = std::min(size, ZERO_CHUNK);
        write(zeros.data(), piece);
        size -= piece;
    }
}

void FrameSocket::sendFile(int fileFd, size_t length, uint64_t from) {
    off_t offset = static_cast<off_t>(from);
    size_t left = length;
    while (left > 0) {
        const ssize_t sent = ::sendfile(fd_, fileFd, &offset, left);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) throw PeerGone();
        if (sent == 0) break;  // the file ended early
        left -= static_cast<size_t>(sent);
    }
    writeZeros(left);
}

void FrameSocket::discard(size_t size) {
    std::vector<char> sink(std::min(size, ZERO_CHUNK));
    while (size > 0) {
        const size_t piece = std::min(size, sink.size());
        read(sink.data(), piece);
        size -= piece;
    }
}

void FrameSocket::shutdown() { ::shutdown(fd_, SHUT_RDWR); }

void FrameSocket::setIdleLimit(unsigned int ms) {
    // A timed-out recv, send or sendfile fails with EAGAIN, which ends the connection.
    const timeval limit = {static_cast<time_t>(ms / 1000),
                           static_cast<suseconds_t>(ms % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace vantreld
