// A ring of item pointers with a fixed power-of-two capacity.
//
// Any number of producers and consumers may use one fifo at once. Producers serialise on a
// mutex; consumers take no mutex: each claims the next position with one atomic
// fetch-and-add, so several can dequeue at the same time. The array is allocated once, at
// construction: enqueue and dequeue allocate nothing.
//
// The fifo does not check its capacity: never holding more than capacity() items is a
// precondition on the callers (an item counts as held until its dequeue() has returned).
//
// A consumer claims its position before it reads the slot. Each slot therefore records whether
// its item is still unread, and a producer that comes round to a slot whose item was claimed
// but not yet read waits for that read (a few instructions) instead of overwriting the item,
// which would lose it and hand its successor out twice.
//
// Item k lives at array[k mod capacity]; head (items taken) and tail (items put) are
// free-running 32-bit counts that wrap at 2^32, which the power-of-two capacity keeps valid.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "ipc/CoFifoBase.h"
#include "ipc/CoLock.h"
#include "ipc/CoMutex.h"

namespace Vantrel {

class CoFixedSizeFifo : public CoFifoBase {
public:
    // The largest capacity: a power of two whose item count still fits depth()'s int.
    static constexpr unsigned MAX_CAPACITY = 0x40000000;

    // Capacity 64.
    CoFixedSizeFifo();
    // Capacity: the smallest power of two not below `size`, posting at debug level
    // "Rounding up the size of the fifo to: %u\n" when that differs from `size`. `size` must be
    // above 0 (assertion "size > 0") and at most MAX_CAPACITY.
    explicit CoFixedSizeFifo(unsigned size);
    ~CoFixedSizeFifo() override;

    void enqueue(void* item) override;
    void* dequeue() override;
    void* tryDequeue() override;
    // Items put and not yet claimed, never more than capacity(); a snapshot.
    int depth() const override;
    // "Fifo %p [depth = %i]", and when verbose one "Item %d: %p" per item from the next to
    // leave.
    void dump(bool verbose) const override;

    // The item `index` places behind the next to leave (0 is the next). Takes no lock:
    // index below depth() is a precondition, and the answer is a snapshot unless the caller
    // keeps producers and consumers out.
    virtual void* getItem(unsigned index) const;

    unsigned capacity() const { return capacity_; }

protected:
    // Starts both counts at `startCount` instead of 0, so that a test can reach the wrap of
    // the counts at 2^32 without four billion operations. Otherwise as CoFixedSizeFifo(size).
    CoFixedSizeFifo(unsigned size, uint32_t startCount);

    struct Slot {
        void* item = nullptr;
        // Set when an item is stored, cleared once whoever takes it has read it.
        std::atomic<bool> unread{false};
    };

    // The array element of free-running position `count`.
    Slot& slot(uint32_t count) { return array_[count & (capacity_ - 1)]; }
    const Slot& slot(uint32_t count) const { return array_[count & (capacity_ - 1)]; }

    // Waits while a consumer that claimed the item a lap before `count` has not read it yet.
    // Call with mutex_ held, before store() at the tail.
    void awaitPreviousRead(uint32_t count) const;
    // Stores an item at position `count`. Call with mutex_ held.
    void store(uint32_t count, void* item);
    // Reads the item at a claimed position and frees its slot.
    void* take(uint32_t count);

    // head_ moves by atomic operations only; tail_ and the items are written only under
    // mutex_. Both counts are atomic so that depth() may read them without the lock.
    std::atomic<uint32_t> head_;
    std::atomic<uint32_t> tail_;
    const uint32_t capacity_;
    CoLock items_;  // counts the items that can be taken without waiting
    mutable CoMutex mutex_;
    std::unique_ptr<Slot[]> array_;
};

}  // namespace Vantrel
