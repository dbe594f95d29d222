#include "ipc/CoMutex.h"

#include <pthread.h>

#include <cerrno>

#include "ipc/CoIpcFailure.h"

namespace Vantrel {

struct CoMutex::Imp {
    pthread_mutex_t mutex;
};

CoMutex::CoMutex() : imp_(new Imp) {
    pthread_mutexattr_t attributes;
    int rc = pthread_mutexattr_init(&attributes);
    if (rc == 0) {
        rc = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
        if (rc == 0) rc = pthread_mutex_init(&imp_->mutex, &attributes);
        pthread_mutexattr_destroy(&attributes);
    }
    if (rc != 0) CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't open mutex: %d", rc);
}

CoMutex::~CoMutex() {
    // Refused (EBUSY) while some thread still holds the mutex: that holder would be left
    // with a destroyed lock.
    if (int rc = pthread_mutex_destroy(&imp_->mutex))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't close mutex: %d", rc);
}

void CoMutex::lock() {
    if (int rc = pthread_mutex_lock(&imp_->mutex))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock mutex: %d", rc);
}

bool CoMutex::tryLock() {
    const int rc = pthread_mutex_trylock(&imp_->mutex);
    if (rc == EBUSY) return false;
    if (rc != 0) CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't lock mutex: %d", rc);
    return true;
}

void CoMutex::unlock() {
    // A recursive mutex reports EPERM when the caller is not its holder.
    if (int rc = pthread_mutex_unlock(&imp_->mutex))
        CO_IPC_SYSTEM_CALL_FAILED(postShell, "Can't release mutex: %d", rc);
}

}  // namespace Vantrel
