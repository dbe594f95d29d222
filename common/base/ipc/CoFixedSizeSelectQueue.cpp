#include "ipc/CoFixedSizeSelectQueue.h"

#include "osal/CoAssert.h"

namespace Vantrel {

CoFixedSizeSelectQueue::CoFixedSizeSelectQueue() : CoFixedSizeSelectQueue(64) {}

CoFixedSizeSelectQueue::CoFixedSizeSelectQueue(unsigned size) : CoLockableFifo(size) {}

void* CoFixedSizeSelectQueue::dequeue_() {
    CoMutexGuard guard(mutex_);
    const unsigned index = selectIndex();
    CO_ASSERT(index < static_cast<unsigned>(depth()));
    const uint32_t head = head_.load();
    void*& chosen = slot(head + index).item;
    void* const item = chosen;
    chosen = take(head);  // the first item moves into the chosen one's place
    head_.store(head + 1);
    return item;
}

}  // namespace Vantrel
