#include "tcp/CoIoDescriptor.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "osal/CoAssert.h"

namespace Vantrel {
namespace {

const int SLICE_MS = CoIoDescriptor::IO_WAIT_RESOLUTION * 1000;

int clampToInt(unsigned int value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

// The time one wait of a blocking operation may still take under an idle limit (0: none),
// handed out in slices.
class IdleClock {
public:
    explicit IdleClock(unsigned int limitMs)
        : limited_(limitMs > 0),
          end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs)) {}
    int nextSliceMs() const {
        if (!limited_) return SLICE_MS;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end_ - std::chrono::steady_clock::now())
                              .count();
        return static_cast<int>(std::max<long long>(0, std::min<long long>(left, SLICE_MS)));
    }
    bool over() const { return limited_ && std::chrono::steady_clock::now() >= end_; }

private:
    const bool limited_;
    const std::chrono::steady_clock::time_point end_;
};

}  // namespace

CoIoDescriptor::CoIoDescriptor() : id_(INVALID_ID), stopped_(false) {}

CoIoDescriptor::~CoIoDescriptor() { CoIoDescriptor::close(); }

void CoIoDescriptor::setLastError(const char* text) { lastError_ = text != nullptr ? text : ""; }

const char* CoIoDescriptor::setLastError(IoError kind) {
    char text[256];
    getIoError(kind, text, sizeof text);
    lastError_ = text;
    return lastError_.c_str();
}

void CoIoDescriptor::closeKeepingError() {
    const std::string reason = lastError_;
    close();
    lastError_ = reason;
}

int CoIoDescriptor::failNotConnected(int result) {
    setLastError(IO_ERR_NOT_CONNECTED);
    return result;
}

bool CoIoDescriptor::awaitReadable() {
    const IdleClock idle(idleLimitMs_);
    for (;;) {
        int ready = 0;
        const WaitOutcome outcome = waitFor(WAIT_READ, idle.nextSliceMs(), ready);
        if (outcome == WAIT_READY) return true;
        if (outcome == WAIT_FAILED) {
            if (takeWaitFailure()) continue;
            return false;
        }
        if (stoppedOrIdleTooLong(idle.over())) return false;
    }
}

bool CoIoDescriptor::stoppedOrIdleTooLong(bool idleOver) {
    if (stopped_) {
        setLastError(IO_ERR_CONNECTION_ABORTED);
        return true;
    }
    if (idleOver) {
        setLastError(IO_ERR_TIMED_OUT);
        return true;
    }
    return false;
}

bool CoIoDescriptor::awaitWritable() {
    // Only a hang-up of the peer is watched, not mere readability: data the peer sent and we
    // have not read yet must neither stop the write nor turn this wait into a busy loop.
    int events = WAIT_WRITE | WAIT_PEER_HANGUP;
    const IdleClock idle(idleLimitMs_);
    for (;;) {
        int ready = 0;
        const WaitOutcome outcome = waitFor(events, idle.nextSliceMs(), ready);
        if (outcome == WAIT_FAILED) {
            if (takeWaitFailure()) continue;
            return false;
        }
        if (outcome == WAIT_READY && (ready & WAIT_PEER_HANGUP)) {
            const PeekResult peeked = peek();
            if (peeked == PEEK_CLOSED || peeked == PEEK_FAILED) {
                setLastError(IO_ERR_CONNECTION_RESET);
                return false;
            }
            // The peer stopped sending but left data behind; from now on only room matters.
            events = WAIT_WRITE;
        }
        if (outcome == WAIT_READY && (ready & WAIT_WRITE)) return true;
        if (stoppedOrIdleTooLong(idle.over())) return false;
    }
}

int CoIoDescriptor::blockingRead(void* buf, unsigned int size) {
    stopped_ = false;
    if (!isValid()) return failNotConnected(-1);
    if (size == 0) return 0;
    CO_ASSERT(buf != nullptr && size <= INT_MAX);
    unsigned int done = 0;
    while (done < size) {
        if (!awaitReadable()) return -1;
        // Also when bytes keep coming: a peer that trickles them must not outlast a stop().
        if (stopped_) {
            setLastError(IO_ERR_CONNECTION_ABORTED);
            return -1;
        }
        const int n = nonBlockingRead(static_cast<char*>(buf) + done, size - done);
        if (n < 0) return -1;
        if (n == 0) {
            setLastError(IO_ERR_CONNECTION_RESET);
            return -1;
        }
        done += static_cast<unsigned int>(n);
    }
    return static_cast<int>(size);
}

int CoIoDescriptor::blockingWrite(const void* buf, unsigned int size) {
    stopped_ = false;
    if (!isValid()) return failNotConnected(-1);
    if (size == 0) return 0;
    CO_ASSERT(buf != nullptr && size <= INT_MAX);
    unsigned int done = 0;
    while (done < size) {
        if (!awaitWritable()) return -1;
        if (stopped_) {
            setLastError(IO_ERR_CONNECTION_ABORTED);
            return -1;
        }
        const int n = nonBlockingWrite(static_cast<const char*>(buf) + done, size - done);
        if (n < 0) return -1;
        done += static_cast<unsigned int>(n);
    }
    return static_cast<int>(size);
}

int CoIoDescriptor::nonBlockingReadSelect(void* buf, unsigned int size, unsigned int timeoutMs) {
    stopped_ = false;
    if (!isValid()) return failNotConnected(-1);
    if (size == 0) return 0;
    int ready = 0;
    const WaitOutcome outcome = waitFor(WAIT_READ, clampToInt(timeoutMs), ready);
    if (outcome == WAIT_FAILED) return takeWaitFailure() ? 0 : -1;
    if (outcome == WAIT_TIMED_OUT) return 0;
    const int n = nonBlockingRead(buf, size);
    if (n == 0) {
        setLastError(IO_ERR_CONNECTION_RESET);
        return -1;
    }
    return n;
}

int CoIoDescriptor::nonBlockingWriteSelect(const void* buf, unsigned int size,
                                           unsigned int timeoutMs) {
    if (!isValid()) return failNotConnected(-1);
    int ready = 0;
    const WaitOutcome outcome = waitFor(WAIT_WRITE, clampToInt(timeoutMs), ready);
    if (outcome == WAIT_FAILED) return takeWaitFailure() ? 0 : -1;
    if (outcome == WAIT_TIMED_OUT) return 0;
    return nonBlockingWrite(buf, size);
}

int CoIoDescriptor::readLine(char* buf, int size) {
    CO_ASSERT(buf != nullptr);
    CO_ASSERT(size >= 1);
    const int last = size - 1;
    int count = 0;
    for (;;) {
        char c = 0;
        if (blockingRead(&c, 1) != 1) {
            buf[count] = '\0';
            setLastError(IO_ERR_CONNECTION_RESET);
            return 0;
        }
        if (c == '\n') {
            buf[count] = '\0';
            return count;
        }
        // Past the room for size - 1 bytes every byte lands on the terminator's place, which
        // the line feed finally overwrites: the line is cut, the buffer never overrun.
        buf[count] = c;
        if (count < last) ++count;
    }
}

bool CoIoDescriptor::writeStr(const char* str) {
    CO_ASSERT(str != nullptr);
    const std::size_t length = std::strlen(str);
    CO_ASSERT(length <= INT_MAX);
    return blockingWrite(str, static_cast<unsigned int>(length)) == static_cast<int>(length);
}

void CoIoDescriptor::getSocketIP(std::string&) const {
    CO_ASSERT_TEXT(false, "getSocketIP() called on a descriptor without addresses");
}

void CoIoDescriptor::getPeerIP(std::string&) const {
    CO_ASSERT_TEXT(false, "getPeerIP() called on a descriptor without addresses");
}

}  // namespace Vantrel
