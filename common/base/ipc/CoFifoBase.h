// The interface of the thread-safe queues of untyped item pointers.
//
// A queue never owns, copies or frees its items: it hands back the pointers it was given, and
// one destroyed with items in it simply drops them. A consumer blocks in dequeue() on a
// semaphore that counts the items, so the count always equals the number of items that can be
// taken without waiting. Which threads may call a queue at once is stated by each queue.
// Queues cannot be copied.
#pragma once

#include <cstdint>

namespace Vantrel {

class CoFifoBase {
public:
    // Tags of CoSortedQueue::enqueueSorted: TAG_NONE queues untagged, at the tail.
    static constexpr uint32_t TAG_NONE = 0;
    static constexpr uint32_t TAG_FIRST = 1;

    CoFifoBase() = default;
    virtual ~CoFifoBase();
    CoFifoBase(const CoFifoBase&) = delete;
    CoFifoBase& operator=(const CoFifoBase&) = delete;

    // Adds an item at the tail: it leaves after all those queued before it.
    virtual void enqueue(void* item) = 0;
    // Adds an item in the order of its tag; queues that keep no order ignore the tag and
    // enqueue().
    virtual void enqueueSorted(void* item, unsigned tag);
    // Adds an item so that it leaves next; queues that cannot do so enqueue() it.
    virtual void enqueueFront(void* item);
    // Takes the next item, waiting without limit for one to arrive.
    virtual void* dequeue() = 0;
    // The number of items queued, as a snapshot.
    virtual int depth() const = 0;
    // Posts the queue's state at debug level; `verbose` adds the items.
    virtual void dump(bool verbose) const = 0;
    // Takes the next item, or returns null at once when there is none.
    virtual void* tryDequeue() = 0;
};

}  // namespace Vantrel
