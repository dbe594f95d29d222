// The base of every byte channel: an owned handle, the text of its last failure and a stop flag.
//
// Reads and writes come in three flavours: one attempt (nonBlocking*), one attempt after a
// bounded wait (*Select), and all-or-nothing (blocking*). The blocking operations wait in slices
// of IO_WAIT_RESOLUTION seconds and look at the stop flag between slices, so stop() from another
// thread makes them give up within about a second; an idle limit (setIdleLimit) bounds them too.
//
// Ownership: the descriptor owns its handle and closes it in its destructor; it cannot be
// copied.
// Failure: operations report failure by their result (-1, 0 or false) and keep the reason in
// lastError(); they never throw.
// Threads: one thread at a time reads and writes a descriptor; stop() is the one operation
// meant to be called from another thread while a blocking read or write runs.
#pragma once

#include <atomic>
#include <string>

namespace Vantrel {

class CoIoDescriptor {
public:
    static constexpr int INVALID_ID = -1;
    // Length in seconds of one wait slice of the blocking operations.
    static constexpr int IO_WAIT_RESOLUTION = 1;

    // The failure kinds a channel distinguishes; each has the system's text of one error.
    enum IoError {
        IO_ERR_NONE = 0,              // empty text
        IO_ERR_UNKNOWN = 1,           // the text of whatever the current error is
        IO_ERR_INTERRUPTED = 2,
        IO_ERR_WOULD_BLOCK = 3,
        IO_ERR_NOT_CONNECTED = 4,
        IO_ERR_CONNECTION_ABORTED = 5,
        IO_ERR_CONNECTION_RESET = 6,  // also every close by the peer, orderly or not
        IO_ERR_TIMED_OUT = 7,
        IO_ERR_CONNECTION_REFUSED = 8,
        IO_ERR_HOST_NOT_FOUND = 9,
    };

    virtual ~CoIoDescriptor();
    CoIoDescriptor(const CoIoDescriptor&) = delete;
    CoIoDescriptor& operator=(const CoIoDescriptor&) = delete;

    // One write attempt: the count written (possibly less than `size`), 0 when the handle
    // would block, -1 on failure. -1 with the not-connected text when the descriptor is closed.
    virtual int nonBlockingWrite(const void* buf, unsigned int size);
    // Writes exactly `size` bytes and returns `size`, or -1: aborted text after stop(), reset
    // text when the peer has closed, the system's text on other failures. Clears the stop flag
    // when it starts.
    virtual int blockingWrite(const void* buf, unsigned int size);
    // Waits up to `timeoutMs` for data, then one read. 0 when nothing came (or the wait was
    // interrupted), -1 on failure or when the peer has closed (reset text). Clears the stop
    // flag.
    virtual int nonBlockingReadSelect(void* buf, unsigned int size, unsigned int timeoutMs);
    // Waits up to `timeoutMs` for room, then one write. 0 when no room came, -1 on failure.
    // Leaves the stop flag alone.
    virtual int nonBlockingWriteSelect(const void* buf, unsigned int size, unsigned int timeoutMs);
    // One read attempt: the count read, 0 at end of input or when the descriptor is closed
    // (not-connected text), -1 on failure.
    virtual int nonBlockingRead(void* buf, unsigned int size);
    // Reads exactly `size` bytes and returns `size`, or -1: aborted text after stop() (seen
    // within one wait slice, also while bytes keep arriving), reset text when the peer closes
    // first, the system's text on other failures. Clears the stop flag when it starts.
    virtual int blockingRead(void* buf, unsigned int size);
    // Closes the handle. True when it was closed already or closes cleanly; false (with the
    // reason) when the system reported a failure, but the descriptor is closed either way.
    virtual bool close();
    // Whether the peer is still there, without waiting: false with the not-connected text when
    // closed, with the reset text when the peer has closed.
    virtual bool isActive();
    // The numeric local or remote address. Only channels with addresses have them: calling
    // these on a descriptor that is not a socket is a programming error and stops the process.
    virtual void getSocketIP(std::string& out) const;
    virtual void getPeerIP(std::string& out) const;

    int id() const { return id_; }
    bool isValid() const { return id_ != INVALID_ID; }

    const std::string& lastError() const { return lastError_; }
    void setLastError(const char* text);

    // The kind of the calling thread's current system error; a code outside the kinds posts
    // "Unexpected WinSock error: %x" at notice level and gives IO_ERR_UNKNOWN.
    static IoError getIoError();
    // Writes the text of `kind` into `buf`, at most `size` bytes with the terminator.
    static void getIoError(IoError kind, char* buf, int size);

    void stop() { stopped_ = true; }
    bool ioStopped() const { return stopped_; }
    // Bounds each wait of the blocking operations: a wait in which no byte can move for `ms`
    // milliseconds fails with the timed-out text (0, the default: waits without bound). A
    // transfer that keeps moving never runs out. Set by the thread doing the I/O.
    void setIdleLimit(unsigned int ms) { idleLimitMs_ = ms; }

    // Reads one line with blockingRead, a byte at a time, and returns it without its line feed,
    // terminated, with its length as the result. A line longer than size - 1 bytes comes back as
    // its first size - 1 bytes (the rest is read and dropped). On failure the result is 0 and
    // the last error is the reset text; an empty line also gives 0 with the last error left
    // alone. Preconditions: `buf` not null, `size` >= 1.
    int readLine(char* buf, int size);
    // blockingWrite of `str` without its terminator; true when all of it went. `str` must not
    // be null.
    bool writeStr(const char* str);

protected:
    CoIoDescriptor();

    // Adopts `id`; the descriptor owns it from now on.
    void setId(int id) { id_ = id; }
    // Stores the text of `kind` (empty for IO_ERR_NONE) and returns it.
    const char* setLastError(IoError kind);
    // close() that keeps the last error as it was (for giving up after a failure).
    void closeKeepingError();
    // Set the kernel's send or receive buffer size; on failure set the last error and post
    // "Can't set socket option: '%s'." at debug level.
    void setSendBufferSizeSocketOption(int size);
    void setReceiveBufferSizeSocketOption(int size);

    // What a wait can watch for.
    enum WaitEvent { WAIT_READ = 1, WAIT_WRITE = 2, WAIT_PEER_HANGUP = 4 };
    enum WaitOutcome { WAIT_READY, WAIT_TIMED_OUT, WAIT_FAILED };
    // Waits up to `timeoutMs` (negative: without limit) for any of `events` (WaitEvent bits) on
    // the handle; on WAIT_READY `ready` holds the events that happened (errors on the handle
    // count as readable and as a hang-up). WAIT_FAILED keeps the system error for
    // takeWaitFailure().
    WaitOutcome waitFor(int events, int timeoutMs, int& ready) const;
    // After WAIT_FAILED: true when the wait was merely interrupted; otherwise stores the
    // system's text as the last error and returns false.
    bool takeWaitFailure();

private:
    enum PeekResult { PEEK_DATA, PEEK_NOTHING, PEEK_CLOSED, PEEK_FAILED };
    // Looks at one byte without taking it and without waiting. PEEK_FAILED keeps the system
    // error.
    PeekResult peek() const;
    // Waits one slice at a time until the handle is readable; false (with the last error set)
    // on failure or when stop() came while nothing was readable.
    bool awaitReadable();
    // The same for room to write; also fails with the reset text when the peer has closed.
    bool awaitWritable();
    // After a wait slice without the awaited event: true (with the aborted or the timed-out
    // text) when stop() came or the idle limit has run out (`idleOver`).
    bool stoppedOrIdleTooLong(bool idleOver);
    // The not-connected failure of operations called on a closed descriptor.
    int failNotConnected(int result);

    int id_;
    std::string lastError_;
    std::atomic<bool> stopped_;  // set by any thread, read by the one doing I/O
    unsigned int idleLimitMs_ = 0;
};

}  // namespace Vantrel
