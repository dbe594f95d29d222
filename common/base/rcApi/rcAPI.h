// The remote-call client: one TCP connection to a server, a login, then named calls.
//
// A call sends one request line and, when synchronous, reads one reply line (see rcMessage.h
// for the wire format). connect() opens the connection and logs in by calling "_login" with
// this process's connection record; a server without a login ("Unknown method: _login") is
// accepted as well.
//
// Connection state: a call that fails on the transport, is stopped, cannot send, or gets a
// reply line longer than CoIoTcpDescriptor::MAX_LINE_LENGTH drops the connection; after that
// every call fails with "Connection not established." until connect() is called again. A call
// that times out waiting for its reply, or gets an "error" reply, keeps the connection (a late
// reply then stays on it; callers that cannot tell should disconnect after a time-out).
//
// Failure: call() and connect() never throw for transport or protocol failures: they return
// false and keep the text in lastError(); call() also puts it into `result`.
//
// Threads: one call at a time; callers serialise calls on one object. stop() is the one
// operation meant for another thread while a call waits: the waiting call fails with the stop's
// reason within about one second (waits for a reply run in slices of
// CoIoDescriptor::IO_WAIT_RESOLUTION). Read lastError() and the flags from the calling thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ipc/CoMutex.h"
#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CoIoTcpDescriptor;
class rcCommand;
class rcResult;

class rcAPI {
public:
    // The port a remote-call server listens on unless told otherwise.
    static constexpr int DEFAULT_PORT = 10000;
    // Size of the receive buffer that replies are read into, kept while connected.
    static constexpr unsigned int RECEIVE_BUFFER_SIZE = 32768;
    // A reply parser holding more than this after a call is given back rather than kept.
    static constexpr size_t KEPT_REPLY_BYTES = 1024 * 1024;
    // TCP connect timeout of connect(), in seconds.
    static constexpr int CONNECT_TIMEOUT_SECONDS = 10;

    rcAPI();
    rcAPI(const rcAPI&) = delete;
    rcAPI& operator=(const rcAPI&) = delete;
    virtual ~rcAPI();

    // Drops any connection, connects to `host`:`port` and logs in; `timeout` (milliseconds)
    // bounds the login call. False with the reason in lastError() when the connect or the login
    // fails (the connection is then dropped).
    bool connect(const char* host, int port, unsigned int timeout);

    // One remote call of `method` (no space or line feed in it) on object `objectId` with the
    // argument text `args` (null counts as empty). `timeout` (milliseconds, from the start of
    // the call) covers sending and waiting for the reply; 0 still waits 1 millisecond for it.
    // Asynchronous calls return true with an empty `result` once the line is sent. Synchronous
    // ones give the reply's value in `result` and true when its status is "ok".
    bool call(int objectId, const char* method, const char* args, bool sync, std::string& result,
              unsigned int timeout);

    // From another thread: makes the waiting call fail with `reason` (null: the system's text
    // for an aborted connection) and drop the connection, within about a second whether the
    // call waits for its reply, for room to send, or connect() waits for the TCP connect
    // (which then fails with `reason`). Nothing happens when not connected nor connecting.
    void stop(const char* reason) EXCLUDES(lock_);

    // True once stop() was accepted, until the next call or connect.
    bool stopped() const { return stopped_; }
    // True when the last call ran out of time waiting for its reply.
    bool timedOut() const { return timedOut_; }
    // A connection exists and its peer is still there.
    bool isConnected() const;
    // Closes and drops the connection and the receive buffer.
    void disconnect() EXCLUDES(lock_);

    const std::string& lastError() const NO_THREAD_SAFETY_ANALYSIS { return lastError_; }
    void setLastError(const char* text) EXCLUDES(lock_);

private:
    // call() without clearing the stop flag (the login inside connect()).
    bool perform(int objectId, const char* method, const char* args, bool sync,
                 std::string& result, unsigned int timeout);
    bool sendLine(const std::string& line, const char* method, uint64_t deadline,
                  std::string& result);
    // Fails connect(): the last error is `text` unless a stop gave its reason.
    bool failConnect(const char* text) EXCLUDES(lock_);
    // Fails a call that stop() cut short, with the stop's reason.
    bool failStopped(const char* method, std::string& result);
    bool receiveReply(const char* method, uint64_t deadline, std::string& result);
    // Fails the call: the last error is `text` (when not null) and `result` gets the last
    // error; with `drop` the connection goes too.
    bool fail(const char* text, std::string& result, bool drop);
    std::string lastErrorCopy() const EXCLUDES(lock_);
    static unsigned int msLeft(uint64_t deadline);

    // Replaced and reset only by the calling thread, under lock_, so that stop() from another
    // thread never sees it half gone; the calling thread reads it without the lock.
    std::unique_ptr<CoIoTcpDescriptor> connection_;
    std::unique_ptr<rcCommand> request_;  // kept between calls to reuse its buffers
    std::unique_ptr<rcResult> reply_;
    mutable CoMutex lock_;
    std::string lastError_ GUARDED_BY(lock_);
    std::unique_ptr<char[]> buffer_;
    std::atomic<bool> timedOut_;
    std::atomic<bool> stopped_;
    bool connecting_ GUARDED_BY(lock_) = false;  // connect() waits for the TCP connect
};

}  // namespace Vantrel
