#include "ipc/CoConditionSignal.h"

#include "ipc/CoMutex.h"
#include "ipc/CoSignalWaiters.h"
#include "osal/CoAssert.h"
#include "osal/CoTime.h"

namespace Vantrel {

class CoConditionSignal::Imp {
public:
    CoMutex mutex;
    CoSignalWaiters waiters;

    // Enrols the calling thread, gives the mutex back, waits (without limit when limitMs is
    // negative) and takes the mutex again. True when signalled; `elapsedMs` is how long the
    // wait took.
    bool wait(int limitMs, uint64_t* elapsedMs) REQUIRES(mutex) {
        CoSignalWaiters::Waiter self;
        waiters.enrol(&self);
        mutex.unlock();
        const uint64_t start = CoTime::monotonicMs();
        const bool released = waiters.wait(&self, limitMs);
        *elapsedMs = CoTime::monotonicMs() - start;
        mutex.lock();
        return released;
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
    imp_->wait(-1, &elapsedMs);  // without limit it returns only once released
}

NO_THREAD_SAFETY_ANALYSIS bool CoConditionSignal::waitForSignal(int* timeoutMs) {
    CO_ASSERT(timeoutMs != nullptr);
    const int limitMs = *timeoutMs;
    uint64_t elapsedMs = 0;
    const bool released = imp_->wait(limitMs, &elapsedMs);
    if (limitMs >= 0) {
        *timeoutMs = elapsedMs >= static_cast<uint64_t>(limitMs)
                         ? 0
                         : limitMs - static_cast<int>(elapsedMs);
    }
    return released;
}

}  // namespace Vantrel
