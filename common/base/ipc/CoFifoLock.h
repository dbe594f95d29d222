// A queue of capacity one, for one producer and one consumer.
//
// It takes no mutex: at most one thread enqueues and at most one dequeues at a time. Enqueuing
// while an item is still held is a broken contract: it posts the error
// "The fifo capacity (1) is exceeded. Unable to enqueue item: %p" and stops the process.
#pragma once

#include <atomic>

#include "ipc/CoFifoBase.h"
#include "ipc/CoLock.h"

namespace Vantrel {

class CoFifoLock : public CoFifoBase {
public:
    CoFifoLock();
    ~CoFifoLock() override;

    void enqueue(void* item) override;
    void* dequeue() override;
    // 1 while an item is held, else 0.
    int depth() const override;
    // "Fifo %p [depth = %i]", verbose "Fifo %p [depth = %i],[_item=%p]".
    void dump(bool verbose) const override;
    void* tryDequeue() override;

private:
    CoLock items_;                // counts the held item: 0 or 1
    std::atomic<void*> item_;     // null when empty; shared by producer and consumer
};

}  // namespace Vantrel
