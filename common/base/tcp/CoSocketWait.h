// Waiting for any of several sockets to become readable, and waking such a wait from another
// thread.
//
// CoWakeup is a socket-like handle that a wait can watch along with real sockets: wake() makes
// it readable until drain() is called. It is a pipe on Linux and a connected pair of loopback
// datagram sockets on Windows, whose socket wait cannot watch pipes.
//
// Ownership: CoWakeup owns its handles and closes them when destroyed; it cannot be copied.
// Failure: a CoWakeup that cannot be made throws CoException ("Unable to create a wake-up",
// expert data the system's text); coWaitReadable reports failure by its result.
// Threads: wake() may be called from any thread; waitId() and drain() belong to the thread that
// waits.
#pragma once

#include <string>
#include <vector>

namespace Vantrel {

class CoWakeup {
public:
    CoWakeup();
    ~CoWakeup();
    CoWakeup(const CoWakeup&) = delete;
    CoWakeup& operator=(const CoWakeup&) = delete;

    // The handle to watch for reading.
    int waitId() const { return readId_; }
    // Makes waitId() readable (several calls before a drain count as one).
    void wake();
    // Takes back every wake-up given so far, without waiting.
    void drain();

private:
    int readId_;
    int writeId_;
};

// Waits up to `timeoutMs` milliseconds (negative: without limit) until any socket of `ids` is
// readable (a closed or failed socket counts as readable) and puts those into `readable`.
// Returns their count, 0 when the time ran out or the wait was interrupted, -1 on failure with
// the system's text in `error`.
int coWaitReadable(const std::vector<int>& ids, int timeoutMs, std::vector<int>& readable,
                   std::string& error);

}  // namespace Vantrel
