#include "ipc/CoConditionSignal.h"

#include <cerrno>
#include <ctime>

#include "ipc/CoIpcFailure.h"
#include "ipc/CoMutex.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"

namespace Vantrel {

namespace {

// The auto-reset event of a condition signal, kept as the list of the threads waiting in
// waitForSignal. set() releases exactly one of them, the one that has waited longest; with none
// waiting it does nothing, which is what setting an event that the next waiter resets before it
// waits amounts to. A thread enrols before it gives the signal's mutex back, so a signal given
// while it is on its way from that unlock to its wait reaches it; a release, once handed to a
// thread, is that thread's alone.
class WaiterList {
public:
    // One per waiting thread, on that thread's stack: waiting allocates nothing.
    struct Waiter {
        Waiter* next = nullptr;
        bool released = false;
    };

    WaiterList() {
        pthread_condattr_t attributes;
        int rc = pthread_condattr_init(&attributes);
        if (rc == 0) {
            // Waits are measured against a clock that setting the date cannot move.
            rc = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
            if (rc == 0) rc = pthread_cond_init(&condition_, &attributes);
            pthread_condattr_destroy(&attributes);
        }
        if (rc == 0) {
            rc = pthread_mutex_init(&mutex_, nullptr);
            if (rc != 0) pthread_cond_destroy(&condition_);
        }
        if (rc != 0) CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to create condition : %d", rc);
    }

    ~WaiterList() {
        pthread_cond_destroy(&condition_);
        pthread_mutex_destroy(&mutex_);
    }

    WaiterList(const WaiterList&) = delete;
    WaiterList& operator=(const WaiterList&) = delete;

    void set() {
        int rc = pthread_mutex_lock(&mutex_);
        if (rc == 0) {
            if (first_ != nullptr) {
                remove(first_)->released = true;
                // Every waiter wakes and checks its own record; only the released one leaves.
                rc = pthread_cond_broadcast(&condition_);
            }
            pthread_mutex_unlock(&mutex_);
        }
        if (rc != 0) CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to signal condition : %d", rc);
    }

    void enrol(Waiter* waiter) {
        lockOrFail();
        if (last_ != nullptr) {
            last_->next = waiter;
        } else {
            first_ = waiter;
        }
        last_ = waiter;
        pthread_mutex_unlock(&mutex_);
    }

    // Waits until `waiter` (enrolled) is released or, when `deadline` is given, until that
    // point of the monotonic clock, and leaves the list. Returns 0 when released, ETIMEDOUT
    // when the time ran out, or the error number of a failed wait.
    int wait(Waiter* waiter, const timespec* deadline) {
        lockOrFail();
        int status = 0;
        while (!waiter->released && status == 0) {
            status = deadline != nullptr ? pthread_cond_timedwait(&condition_, &mutex_, deadline)
                                         : pthread_cond_wait(&condition_, &mutex_);
        }
        // A release handed over while the time ran out still counts.
        if (waiter->released) {
            status = 0;
        } else {
            remove(waiter);
        }
        pthread_mutex_unlock(&mutex_);
        return status;
    }

private:
    void lockOrFail() {
        if (int rc = pthread_mutex_lock(&mutex_))
            CO_IPC_SYSTEM_CALL_FAILED(postError, "Unexpected error while waiting for signal: %d", rc);
    }

    Waiter* remove(Waiter* waiter) {
        Waiter* previous = nullptr;
        Waiter** link = &first_;
        while (*link != waiter) {
            previous = *link;
            link = &previous->next;
        }
        *link = waiter->next;
        if (last_ == waiter) last_ = previous;
        return waiter;
    }

    pthread_mutex_t mutex_;
    pthread_cond_t condition_;
    // Reached only under mutex_: the waiters not yet released, longest waiting first.
    Waiter* first_ = nullptr;
    Waiter* last_ = nullptr;
};

timespec monotonicDeadline(int timeoutMs) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

}  // namespace

class CoConditionSignal::Imp {
public:
    CoMutex mutex;
    WaiterList waiters;

    // Enrols the calling thread, gives the mutex back, waits (without limit when limitMs is
    // negative) and takes the mutex again. Returns the wait's status and the milliseconds it
    // took.
    int wait(int limitMs, uint64_t* elapsedMs) REQUIRES(mutex) {
        WaiterList::Waiter self;
        waiters.enrol(&self);
        mutex.unlock();
        const uint64_t start = CoTime::monotonicMs();
        int status = 0;
        if (limitMs < 0) {
            status = waiters.wait(&self, nullptr);
        } else {
            const timespec deadline = monotonicDeadline(limitMs);
            status = waiters.wait(&self, &deadline);
        }
        *elapsedMs = CoTime::monotonicMs() - start;
        mutex.lock();
        return status;
    }
};

CoConditionSignal::CoConditionSignal() : imp_(new Imp) {}

CoConditionSignal::~CoConditionSignal() = default;

void CoConditionSignal::lock() { imp_->mutex.lock(); }

void CoConditionSignal::unlock() { imp_->mutex.unlock(); }

void CoConditionSignal::signal() { imp_->waiters.set(); }

// The signal's lock is its implementation's mutex, which the thread-safety analysis cannot
// tie to the signal itself.
NO_THREAD_SAFETY_ANALYSIS void CoConditionSignal::waitForSignal() {
    uint64_t elapsedMs = 0;
    const int status = imp_->wait(-1, &elapsedMs);
    if (status != 0)
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unexpected error while waiting for signal: %d", status);
}

NO_THREAD_SAFETY_ANALYSIS bool CoConditionSignal::waitForSignal(int* timeoutMs) {
    CO_ASSERT(timeoutMs != nullptr);
    const int limitMs = *timeoutMs;
    uint64_t elapsedMs = 0;
    const int status = imp_->wait(limitMs, &elapsedMs);
    if (limitMs >= 0) {
        *timeoutMs = elapsedMs >= static_cast<uint64_t>(limitMs) ? 0 : limitMs - static_cast<int>(elapsedMs);
    }
    CO_ASSERT_TEXT(status == 0 || status == ETIMEDOUT, "status == WAIT_TIMEOUT");
    return status == 0;
}

}  // namespace Vantrel
