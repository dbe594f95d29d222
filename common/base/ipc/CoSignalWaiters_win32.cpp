#include "ipc/CoSignalWaiters.h"

#include <windows.h>

#include "ipc/CoIpcFailure.h"

namespace Vantrel {
namespace {

int lastError() { return static_cast<int>(GetLastError()); }

HANDLE eventOf(void* event) { return static_cast<HANDLE>(event); }

}  // namespace

// A critical section guards the list; each waiter sleeps on an auto-reset event of its own.
class CoSignalWaiters::Os {
public:
    Os() { InitializeCriticalSection(&lock); }
    ~Os() { DeleteCriticalSection(&lock); }

    CRITICAL_SECTION lock;
};

CoSignalWaiters::Waiter::Waiter() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (event_ == nullptr)
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to create condition : %d", lastError());
}

CoSignalWaiters::Waiter::~Waiter() { CloseHandle(eventOf(event_)); }

CoSignalWaiters::CoSignalWaiters() : os_(new Os) {}

CoSignalWaiters::~CoSignalWaiters() = default;

void CoSignalWaiters::lock() { EnterCriticalSection(&os_->lock); }

void CoSignalWaiters::unlock() { LeaveCriticalSection(&os_->lock); }

void CoSignalWaiters::wake(Waiter* waiter) {
    if (!SetEvent(eventOf(waiter->event_)))
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unable to signal condition : %d", lastError());
}

// The event stays set when the release comes before the wait, so the lock can be given back
// for the whole sleep.
void CoSignalWaiters::sleep(Waiter* waiter, int limitMs) {
    unlock();
    const DWORD status =
        WaitForSingleObject(eventOf(waiter->event_), limitMs < 0 ? INFINITE : DWORD(limitMs));
    const int error = lastError();
    lock();
    if (status != WAIT_OBJECT_0 && status != WAIT_TIMEOUT)
        CO_IPC_SYSTEM_CALL_FAILED(postError, "Unexpected error while waiting for signal: %d", error);
}

}  // namespace Vantrel
