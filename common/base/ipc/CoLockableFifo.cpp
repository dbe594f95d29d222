#include "ipc/CoLockableFifo.h"

namespace Vantrel {

CoLockableFifo::CoLockableFifo() : CoLockableFifo(64) {}

CoLockableFifo::CoLockableFifo(unsigned size) : CoFixedSizeFifo(size) {}

void CoLockableFifo::lock() { mutex_.lock(); }

void CoLockableFifo::release() { mutex_.unlock(); }

void* CoLockableFifo::swapItem(unsigned index, void* item) {
    void*& place = slot(head_.load() + index).item;
    void* const old = place;
    place = item;
    return old;
}

void CoLockableFifo::enqueueFront(void* item) {
    {
        CoMutexGuard guard(mutex_);
        // Consumers take the mutex here, so the slot before head has no reader left.
        const uint32_t head = head_.load() - 1;
        store(head, item);
        head_.store(head);
    }
    items_.release();
}

void* CoLockableFifo::dequeue() {
    items_.get();
    return dequeue_();
}

void* CoLockableFifo::tryDequeue() {
    if (!items_.tryGet()) return nullptr;
    return dequeue_();
}

void* CoLockableFifo::dequeue_() {
    CoMutexGuard guard(mutex_);
    return take(head_.fetch_add(1));
}

}  // namespace Vantrel
