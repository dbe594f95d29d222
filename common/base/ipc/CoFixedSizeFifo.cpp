#include "ipc/CoFixedSizeFifo.h"

#include <algorithm>
#include <thread>

#include "vantrel/CoMsg.h"
#include "osal/CoAssert.h"

namespace Vantrel {

namespace {

uint32_t roundUpToPowerOfTwo(unsigned size) {
    CO_ASSERT_TEXT(size > 0, "size > 0");
    // Beyond MAX_CAPACITY the doubling would overflow 32 bits and never end.
    CO_ASSERT(size <= CoFixedSizeFifo::MAX_CAPACITY);
    uint32_t capacity = 1;
    while (capacity < size) capacity *= 2;
    return capacity;
}

}  // namespace

CoFixedSizeFifo::CoFixedSizeFifo() : CoFixedSizeFifo(64) {}

CoFixedSizeFifo::CoFixedSizeFifo(unsigned size) : CoFixedSizeFifo(size, 0) {}

CoFixedSizeFifo::CoFixedSizeFifo(unsigned size, uint32_t startCount)
    : head_(startCount),
      tail_(startCount),
      capacity_(roundUpToPowerOfTwo(size)),
      items_(0),
      array_(new Slot[capacity_]) {
    if (capacity_ != size) CO_MSG_DEBUG("Rounding up the size of the fifo to: %u\n", capacity_);
}

CoFixedSizeFifo::~CoFixedSizeFifo() = default;

void CoFixedSizeFifo::enqueue(void* item) {
    {
        CoMutexGuard guard(mutex_);
        const uint32_t tail = tail_.load();
        awaitPreviousRead(tail);
        store(tail, item);
        tail_.store(tail + 1);
    }
    items_.release();
}

void CoFixedSizeFifo::awaitPreviousRead(uint32_t count) const {
    const Slot& place = slot(count);
    // The item a lap earlier: once claimed (head has passed it) its consumer is about to read
    // it. Unclaimed, the caller broke the capacity precondition, and waiting would never end.
    const uint32_t lapEarlier = count - capacity_;
    while (place.unread.load(std::memory_order_acquire) &&
           static_cast<int32_t>(head_.load() - lapEarlier) > 0) {
        std::this_thread::yield();
    }
}

void CoFixedSizeFifo::store(uint32_t count, void* item) {
    Slot& place = slot(count);
    place.item = item;
    place.unread.store(true, std::memory_order_relaxed);
}

void* CoFixedSizeFifo::take(uint32_t count) {
    Slot& place = slot(count);
    void* const item = place.item;
    place.unread.store(false, std::memory_order_release);
    return item;
}

void* CoFixedSizeFifo::dequeue() {
    items_.get();
    return take(head_.fetch_add(1));
}

void* CoFixedSizeFifo::tryDequeue() {
    if (!items_.tryGet()) return nullptr;
    return take(head_.fetch_add(1));
}

int CoFixedSizeFifo::depth() const {
    // Head first: tail only grows after it, so the difference cannot go below zero.
    const uint32_t head = head_.load();
    const uint32_t tail = tail_.load();
    return static_cast<int>(std::min(tail - head, capacity_));
}

void CoFixedSizeFifo::dump(bool verbose) const {
    const int count = depth();
    CO_MSG_DEBUG("Fifo %p [depth = %i]", static_cast<const void*>(this), count);
    if (!verbose) return;
    for (int i = 0; i < count; ++i) CO_MSG_DEBUG("Item %d: %p", i, getItem(static_cast<unsigned>(i)));
}

void* CoFixedSizeFifo::getItem(unsigned index) const { return slot(head_.load() + index).item; }

}  // namespace Vantrel
