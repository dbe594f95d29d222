#include "ipc/CoMutex.h"

#include <windows.h>

#include "ipc/CoIpcFailure.h"

namespace Vantrel {

// A kernel mutex: re-entrant by nature, and refusing a release by a thread that does not hold
// it (ERROR_NOT_OWNER).
struct CoMutex::Imp {
    HANDLE handle;
};

CoMutex::CoMutex() : imp_(new Imp) {
    imp_->handle = CreateMutexA(nullptr, FALSE, nullptr);
    if (imp_->handle == nullptr)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't open mutex: %d", static_cast<int>(GetLastError()));
}

CoMutex::~CoMutex() {
    if (!CloseHandle(imp_->handle))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't close mutex: %d", static_cast<int>(GetLastError()));
}

void CoMutex::lock() {
    // An abandoned mutex (its holder ended without releasing it) is handed to the caller.
    const DWORD result = WaitForSingleObject(imp_->handle, INFINITE);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock mutex: %d", static_cast<int>(GetLastError()));
}

bool CoMutex::tryLock() {
    const DWORD result = WaitForSingleObject(imp_->handle, 0);
    if (result == WAIT_TIMEOUT) return false;
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock mutex: %d", static_cast<int>(GetLastError()));
    return true;
}

void CoMutex::unlock() {
    if (!ReleaseMutex(imp_->handle))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't release mutex: %d", static_cast<int>(GetLastError()));
}

}  // namespace Vantrel
