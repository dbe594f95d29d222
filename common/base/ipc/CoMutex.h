// Mutual exclusion: a re-entrant mutex and its scope guards.
//
// CoMutex is re-entrant: the thread that holds it may lock it again and must unlock it once
// for each lock. Any number of threads may use one mutex at once. A failed system call posts
// "Can't open mutex: %d", "Can't close mutex: %d", "Can't lock mutex: %d" or
// "Can't release mutex: %d" (with the system's error number, straight to standard output) and
// stops the process: there is no error return. Unlocking a mutex that the calling thread does
// not hold, and destroying a mutex that is still held, are such failures.
#pragma once

#include <memory>

#include "osal/CoThreadAnnotations.h"

namespace Vantrel {

class CAPABILITY("mutex") CoMutex {
public:
    CoMutex();
    virtual ~CoMutex();
    CoMutex(const CoMutex&) = delete;
    CoMutex& operator=(const CoMutex&) = delete;

    // Waits without limit until the calling thread holds the mutex.
    virtual void lock() ACQUIRE();
    // Takes the mutex only when that needs no wait; true when it was taken.
    virtual bool tryLock() TRY_ACQUIRE(true);
    // Gives back one lock of the calling thread.
    virtual void unlock() RELEASE();

private:
    // The system's mutex; its type is the platform file's business.
    struct Imp;
    std::unique_ptr<Imp> imp_;
};

// Holds a mutex for its scope: locks at construction, unlocks at destruction. lock() and
// unlock() release and re-take it inside the scope; the guard must hold the mutex again when
// the scope ends, since the destructor always unlocks. Used by one thread.
class SCOPED_CAPABILITY CoMutexGuard {
public:
    explicit CoMutexGuard(CoMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~CoMutexGuard() RELEASE() { mutex_.unlock(); }
    CoMutexGuard(const CoMutexGuard&) = delete;
    CoMutexGuard& operator=(const CoMutexGuard&) = delete;

    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    CoMutex& mutex_;
};

// Tries once, at construction, to take a mutex without waiting; unlocks at destruction only
// when that succeeded. Used by one thread.
class CoTryLockMutexGuard {
public:
    explicit CoTryLockMutexGuard(CoMutex& mutex) : mutex_(mutex), acquired_(mutex.tryLock()) {}
    ~CoTryLockMutexGuard() NO_THREAD_SAFETY_ANALYSIS {
        if (acquired_) mutex_.unlock();
    }
    CoTryLockMutexGuard(const CoTryLockMutexGuard&) = delete;
    CoTryLockMutexGuard& operator=(const CoTryLockMutexGuard&) = delete;

    bool isAcquired() const { return acquired_; }

private:
    CoMutex& mutex_;
    const bool acquired_;
};

}  // namespace Vantrel
