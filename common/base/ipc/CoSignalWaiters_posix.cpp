#include "ipc/CoSignalWaiters.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "ipc/CoIpcFailure.h"

namespace Vantrel {
namespace {

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

// One condition variable for the whole list: every waiter wakes and checks its own record;
// only the released one leaves.
class CoSignalWaiters::Os {
public:
    Os() {
        pthread_condattr_t attributes;
        int rc = pthread_condattr_init(&attributes);
        if (rc == 0) {
            // Waits are measured against a clock that setting the date cannot move.
            rc = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
            if (rc == 0) rc = pthread_cond_init(&condition, &attributes);
            pthread_condattr_destroy(&attributes);
        }
        if (rc == 0) {
            rc = pthread_mutex_init(&mutex, nullptr);
            if (rc != 0) pthread_cond_destroy(&condition);
        }
        if (rc != 0) CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to create condition : %d", rc);
    }
    ~Os() {
        pthread_cond_destroy(&condition);
        pthread_mutex_destroy(&mutex);
    }

    pthread_mutex_t mutex;
    pthread_cond_t condition;
};

CoSignalWaiters::Waiter::Waiter() = default;

CoSignalWaiters::Waiter::~Waiter() = default;

CoSignalWaiters::CoSignalWaiters() : os_(new Os) {}

CoSignalWaiters::~CoSignalWaiters() = default;

void CoSignalWaiters::lock() {
    if (int rc = pthread_mutex_lock(&os_->mutex))
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unexpected error while waiting for signal: %d", rc);
}

void CoSignalWaiters::unlock() { pthread_mutex_unlock(&os_->mutex); }

void CoSignalWaiters::wake(Waiter*) {
    if (int rc = pthread_cond_broadcast(&os_->condition))
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to signal condition : %d", rc);
}

void CoSignalWaiters::sleep(Waiter* waiter, int limitMs) {
    const timespec deadline = monotonicDeadline(limitMs < 0 ? 0 : limitMs);
    int status = 0;
    while (!waiter->released_ && status == 0) {
        status = limitMs >= 0 ? pthread_cond_timedwait(&os_->condition, &os_->mutex, &deadline)
                              : pthread_cond_wait(&os_->condition, &os_->mutex);
    }
    if (status != 0 && status != ETIMEDOUT)
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unexpected error while waiting for signal: %d",
                                  status);
}

}  // namespace Vantrel
