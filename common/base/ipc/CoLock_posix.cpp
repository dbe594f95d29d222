#include "ipc/CoLock.h"

#include <semaphore.h>

#include <cerrno>
#include <climits>

#include "ipc/CoIpcFailure.h"
#include "osal/CoAssert.h"

namespace Vantrel {

// SEM_VALUE_MAX is the same 0x7fffffff on Linux: sem_post refuses (EOVERFLOW) exactly where
// the count would pass MAX_COUNT.
static_assert(CoLock::MAX_COUNT <= SEM_VALUE_MAX, "the semaphore cannot count to MAX_COUNT");

struct CoLock::Imp {
    sem_t semaphore;
};

CoLock::CoLock() : CoLock(1) {}

CoLock::CoLock(unsigned value) : imp_(new Imp) {
    CO_ASSERT_TEXT(value < MAX_COUNT, "value < MAX_COUNT");
    if (sem_init(&imp_->semaphore, 0, value) != 0)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't create semaphore: %d", errno);
}

CoLock::~CoLock() {
    if (sem_destroy(&imp_->semaphore) != 0)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't close semaphore: %d", errno);
}

void CoLock::get() {
    // A signal handler run by this thread interrupts the wait; that is no failure.
    while (sem_wait(&imp_->semaphore) != 0) {
        if (errno != EINTR) CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock semaphore: %d", errno);
    }
}

bool CoLock::tryGet() {
    while (sem_trywait(&imp_->semaphore) != 0) {
        if (errno == EAGAIN) return false;
        if (errno != EINTR) CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock semaphore: %d", errno);
    }
    return true;
}

void CoLock::release() {
    if (sem_post(&imp_->semaphore) != 0)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't release semaphore: %d", errno);
}

unsigned CoLock::valueSnapshot() const {
    int value = 0;
    sem_getvalue(&imp_->semaphore, &value);
    // Linux reports 0, never a negative count of waiters, for a semaphore others wait on.
    return value > 0 ? static_cast<unsigned>(value) : 0u;
}

}  // namespace Vantrel
