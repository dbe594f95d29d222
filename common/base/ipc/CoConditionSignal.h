// A condition signal with its own mutex.
//
// The usual pattern: the waiting thread takes the signal's mutex, tests its condition in a
// loop and calls waitForSignal() while the condition is false; the signalling thread takes the
// mutex, changes the condition, calls signal() and unlocks.
//
// signal() wakes exactly one thread that waits at that moment, the one that has waited
// longest. A thread waits from the moment it is inside waitForSignal(): it is counted as
// waiting before it gives the mutex back, so no signal can slip in between. A signal given
// while no thread waits is lost; it does not wake a later waiter. Any number of threads may
// use one signal at once. A failed system call posts "Unable to create condition : %d",
// "Unable to signal condition : %d" or "Unexpected error while waiting for signal: %d" at error
// level, with the system's error number, and stops the process. A signal cannot be copied.
#pragma once

#include <memory>

#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CAPABILITY("condition signal") CoConditionSignal {
public:
    CoConditionSignal();
    virtual ~CoConditionSignal();
    CoConditionSignal(const CoConditionSignal&) = delete;
    CoConditionSignal& operator=(const CoConditionSignal&) = delete;

    // Take and give back the signal's own (re-entrant) mutex.
    void lock() ACQUIRE();
    void unlock() RELEASE();

    // Wakes one waiting thread. Need not be called with the mutex held.
    void signal();

    // Gives the mutex back, waits without limit for a signal, and returns holding the mutex
    // again. Call it with the mutex held exactly once.
    void waitForSignal() REQUIRES(this);

    // The same with a limit of *timeoutMs milliseconds; a negative value (-1 by convention)
    // means no limit. Returns true when signalled, false when the time ran out. Writes the
    // time left back into *timeoutMs (0 when none is left); a negative value is left as it is,
    // so a caller that loops on the wait keeps waiting without limit.
    bool waitForSignal(int* timeoutMs) REQUIRES(this);

private:
    class Imp;
    std::unique_ptr<Imp> imp_;
};

}  // namespace Vantrel
