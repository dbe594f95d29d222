#include "ipc/CoConditionSignal.h"

#include <windows.h>

#include "ipc/CoIpcFailure.h"
#include "ipc/CoMutex.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"

namespace Vantrel {

namespace {

int lastError() { return static_cast<int>(GetLastError()); }

// The threads waiting in waitForSignal, longest waiting first, each with its own auto-reset
// event. set() takes the first one off the list and sets its event; with none waiting it does
// nothing. A thread enrols before it gives the signal's mutex back, so a signal given while it
// is on its way from that unlock to its wait reaches it: the event stays set until it waits.
class WaiterList {
public:
    struct Waiter {
        Waiter() : event(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
            if (event == nullptr)
                CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to create condition : %d", lastError());
        }
        ~Waiter() { CloseHandle(event); }
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;

        HANDLE event;
        Waiter* next = nullptr;
        bool released = false;
    };

    WaiterList() { InitializeCriticalSection(&lock_); }
    ~WaiterList() { DeleteCriticalSection(&lock_); }
    WaiterList(const WaiterList&) = delete;
    WaiterList& operator=(const WaiterList&) = delete;

    void set() {
        EnterCriticalSection(&lock_);
        bool ok = true;
        if (first_ != nullptr) {
            Waiter* waiter = remove(first_);
            waiter->released = true;
            ok = SetEvent(waiter->event) != 0;
        }
        LeaveCriticalSection(&lock_);
        if (!ok) CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to signal condition : %d", lastError());
    }

    void enrol(Waiter* waiter) {
        EnterCriticalSection(&lock_);
        if (last_ != nullptr) {
            last_->next = waiter;
        } else {
            first_ = waiter;
        }
        last_ = waiter;
        LeaveCriticalSection(&lock_);
    }

    // Waits until `waiter` (enrolled) is released or `limitMs` (INFINITE: no limit) has
    // passed, and leaves the list. Returns WAIT_OBJECT_0 when released, WAIT_TIMEOUT when the
    // time ran out, or WAIT_FAILED.
    DWORD wait(Waiter* waiter, DWORD limitMs) {
        DWORD status = WaitForSingleObject(waiter->event, limitMs);
        EnterCriticalSection(&lock_);
        // A release handed over while the time ran out still counts.
        if (waiter->released) {
            status = WAIT_OBJECT_0;
        } else {
            remove(waiter);
        }
        LeaveCriticalSection(&lock_);
        return status;
    }

private:
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

    CRITICAL_SECTION lock_;
    // Reached only under lock_: the waiters not yet released, longest waiting first.
    Waiter* first_ = nullptr;
    Waiter* last_ = nullptr;
};

}  // namespace

class CoConditionSignal::Imp {
public:
    CoMutex mutex;
    WaiterList waiters;

    // Enrols the calling thread, gives the mutex back, waits (without limit when limitMs is
    // negative) and takes the mutex again. Returns the wait's status and the milliseconds it
    // took.
    DWORD wait(int limitMs, uint64_t* elapsedMs) REQUIRES(mutex) {
        WaiterList::Waiter self;
        waiters.enrol(&self);
        mutex.unlock();
        const uint64_t start = CoTime::monotonicMs();
        const DWORD status = waiters.wait(&self, limitMs < 0 ? INFINITE : static_cast<DWORD>(limitMs));
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
    if (imp_->wait(-1, &elapsedMs) != WAIT_OBJECT_0)
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unexpected error while waiting for signal: %d",
                                  lastError());
}

NO_THREAD_SAFETY_ANALYSIS bool CoConditionSignal::waitForSignal(int* timeoutMs) {
    CO_ASSERT(timeoutMs != nullptr);
    const int limitMs = *timeoutMs;
    uint64_t elapsedMs = 0;
    const DWORD status = imp_->wait(limitMs, &elapsedMs);
    if (limitMs >= 0) {
        *timeoutMs = elapsedMs >= static_cast<uint64_t>(limitMs) ? 0 : limitMs - static_cast<int>(elapsedMs);
    }
    CO_ASSERT_TEXT(status == WAIT_OBJECT_0 || status == WAIT_TIMEOUT, "status == WAIT_TIMEOUT");
    return status == WAIT_OBJECT_0;
}

}  // namespace Vantrel
