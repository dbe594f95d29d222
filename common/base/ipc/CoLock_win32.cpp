#include "ipc/CoLock.h"

#include <windows.h>

#include "ipc/CoIpcFailure.h"
#include "osal/CoAssert.h"

namespace Vantrel {

// A kernel semaphore whose maximum is MAX_COUNT: ReleaseSemaphore refuses
// (ERROR_TOO_MANY_POSTS) exactly where the count would pass it.
struct CoLock::Imp {
    HANDLE handle;
};

namespace {

int lastError() { return static_cast<int>(GetLastError()); }

}  // namespace

CoLock::CoLock() : CoLock(1) {}

CoLock::CoLock(unsigned value) : imp_(new Imp) {
    CO_ASSERT_TEXT(value < MAX_COUNT, "value < MAX_COUNT");
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
}

bool CoLock::tryGet() {
    const DWORD result = WaitForSingleObject(imp_->handle, 0);
    if (result == WAIT_TIMEOUT) return false;
    if (result != WAIT_OBJECT_0)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock semaphore: %d", lastError());
    return true;
}

void CoLock::release() {
    if (!ReleaseSemaphore(imp_->handle, 1, nullptr))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't release semaphore: %d", lastError());
}

// The system tells a semaphore's count only when it is released: take one count without
// waiting and give it back, which reports the count before. 0 when none could be taken.
unsigned CoLock::valueSnapshot() const {
    if (WaitForSingleObject(imp_->handle, 0) != WAIT_OBJECT_0) return 0u;
    LONG before = 0;
    ReleaseSemaphore(imp_->handle, 1, &before);
    return static_cast<unsigned>(before) + 1u;
}

}  // namespace Vantrel
