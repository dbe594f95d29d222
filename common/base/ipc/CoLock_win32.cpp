#include "ipc/CoLock.h"

#include <windows.h>

#include <atomic>

#include "ipc/CoIpcFailure.h"
#include "osal/CoAssert.h"

namespace Vantrel {

// A kernel semaphore whose maximum is MAX_COUNT: ReleaseSemaphore refuses
// (ERROR_TOO_MANY_POSTS) exactly where the count would pass it. Windows tells a semaphore's
// count only to the one who releases it, so the count is also kept beside it, for snapshots.
struct CoLock::Imp {
    HANDLE handle;
    std::atomic<long> count;
};

namespace {

int lastError() { return static_cast<int>(GetLastError()); }

}  // namespace

CoLock::CoLock() : CoLock(1) {}

CoLock::CoLock(unsigned value) : imp_(new Imp) {
    CO_ASSERT_TEXT(value < MAX_COUNT, "value < MAX_COUNT");
    imp_->count = static_cast<long>(value);
    imp_->handle = CreateSemaphoreA(nullptr, static_cast<LONG>(value),
                                    static_cast<LONG>(MAX_COUNT), nullptr);
    if (imp_->handle == nullptr)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't create semaphore: %d", lastError());
}

CoLock::~CoLock() {
    if (!CloseHandle(imp_->handle))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't close semaphore: %d", lastError());
}

void CoLock::get() {
    if (WaitForSingleObject(imp_->handle, INFINITE) != WAIT_OBJECT_0)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock semaphore: %d", lastError());
    --imp_->count;
}

bool CoLock::tryGet() {
    const DWORD result = WaitForSingleObject(imp_->handle, 0);
    if (result == WAIT_TIMEOUT) return false;
    if (result != WAIT_OBJECT_0)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock semaphore: %d", lastError());
    --imp_->count;
    return true;
}

void CoLock::release() {
    // Counted first, so that a waiter woken by the release never makes the count negative.
    ++imp_->count;
    if (!ReleaseSemaphore(imp_->handle, 1, nullptr)) {
        --imp_->count;
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't release semaphore: %d", lastError());
    }
}

unsigned CoLock::valueSnapshot() const {
    const long value = imp_->count.load();
    return value > 0 ? static_cast<unsigned>(value) : 0u;
}

}  // namespace Vantrel
