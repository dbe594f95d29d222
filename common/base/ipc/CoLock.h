// A counting semaphore and its scope guard.
//
// CoLock counts from an initial value up to MAX_COUNT: get() waits until the count is above 0
// and takes one, release() gives one back. Any number of threads may use one CoLock at once,
// and the thread that releases need not be the one that took. A failed system call posts
// "Can't create semaphore: %d", "Can't close semaphore: %d", "Can't lock semaphore: %d" or
// "Can't release semaphore: %d" (with the system's error number, straight to standard output)
// and stops the process; releasing past MAX_COUNT is such a failure.
#pragma once

#include <memory>

namespace Vantrel {

class CoLock {
public:
    static constexpr unsigned MAX_COUNT = 0x7fffffff;

    // Count 1: one holder at a time.
    CoLock();
    // Count `value`, which must be below MAX_COUNT (assertion "value < MAX_COUNT").
    explicit CoLock(unsigned value);
    virtual ~CoLock();
    CoLock(const CoLock&) = delete;
    CoLock& operator=(const CoLock&) = delete;

    // Waits without limit until the count is above 0, then decrements it.
    virtual void get();
    // Decrements the count when it is above 0, without waiting; true when it did.
    virtual bool tryGet();
    // Increments the count by one, waking one waiter if any.
    virtual void release();

    // The count at the moment of the call; stale as soon as another thread gets or releases.
    unsigned valueSnapshot() const;

private:
    // The system's semaphore; its type is the platform file's business.
    struct Imp;
    std::unique_ptr<Imp> imp_;
};

// Takes one count of a CoLock for its scope: get() at construction, release() at destruction.
class CoLockGuard {
public:
    explicit CoLockGuard(CoLock& lock) : lock_(&lock) { lock_->get(); }
    virtual ~CoLockGuard() { lock_->release(); }
    CoLockGuard(const CoLockGuard&) = delete;
    CoLockGuard& operator=(const CoLockGuard&) = delete;

private:
    CoLock* lock_;
};

}  // namespace Vantrel
