// A fixed-size ring that the caller can hold still and edit.
//
// Unlike CoFixedSizeFifo, consumers take the fifo's mutex too, so while a thread holds lock()
// no item enters or leaves, and it can inspect items with getItem() and replace them with
// swapItem(). The mutex is re-entrant: the holder may still enqueue and dequeue itself.
// Otherwise as CoFixedSizeFifo: any number of producers and consumers, never more than
// capacity() items.
#pragma once

#include "ipc/CoFixedSizeFifo.h"

namespace Vantrel {

class CoLockableFifo : public CoFixedSizeFifo {
public:
    // Capacity 64.
    CoLockableFifo();
    explicit CoLockableFifo(unsigned size);

    // Take and give back the fifo's mutex; pair every lock() with one release().
    void lock() ACQUIRE(mutex_);
    void release() RELEASE(mutex_);

    // Replaces the item `index` places behind the next to leave and returns the one it
    // replaced. Takes no lock of its own: hold lock() around it. index below depth().
    void* swapItem(unsigned index, void* item);

    // Puts the item before all others, so that it leaves next.
    void enqueueFront(void* item) override;
    void* dequeue() override;
    void* tryDequeue() override;

private:
    // Takes the next item under the mutex, after the caller got one count of the semaphore.
    virtual void* dequeue_();
};

}  // namespace Vantrel
