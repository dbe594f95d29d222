// An unbounded queue ordered by tags.
//
// The entries run from the tail end (the newest, position 0) to the head end, where dequeue()
// takes them. enqueue() adds at the tail end and enqueueFront() at the head end, both with the
// greatest tag 0xFFFFFFFF. enqueueSorted(item, tag) with a tag other than TAG_NONE walks from
// the tail end towards the head end and stops at the first entry whose tag is smaller, or
// which is untagged (TAG_NONE); the new entry goes on the tail side of it, so that entry still
// leaves first. Entries with an equal or greater tag passed on the way are overtaken. When the
// walk reaches the head end without stopping, the new entry goes at the head end and leaves
// next: the walk builds an ascending order towards the head, and this continues it. TAG_NONE
// adds at the tail end like enqueue(), with tag 0, and such an entry is never overtaken.
//
// Any number of threads may use one queue at once. Each entry costs one list node, freed when
// it leaves or with the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>

#include "ipc/CoFifoBase.h"
#include "ipc/CoLock.h"
#include "ipc/CoMutex.h"

namespace Vantrel {

class CoSortedQueue : public CoFifoBase {
public:
    CoSortedQueue();
    ~CoSortedQueue() override;

    void enqueue(void* item) override;
    void enqueueSorted(void* item, unsigned tag) override;
    void enqueueFront(void* item) override;
    void* dequeue() override;
    void* tryDequeue() override;
    // The number of entries, read without the lock: a snapshot.
    int depth() const override;
    // "Fifo %p [depth = %i]", and when verbose one "\tItem %d: %p tag: %d" per entry from the
    // tail end.
    void dump(bool verbose) const override;

    // The item `index` steps from the tail end (0 is the newest, unlike the ring fifos), or
    // null past the end. Walks the list under the queue's mutex.
    virtual void* getItem(unsigned index) const;

private:
    struct Entry {
        uint32_t tag;
        void* item;
    };
    using List = std::list<Entry>;

    static constexpr uint32_t TAG_LAST = 0xFFFFFFFF;

    enum class Placement { TAIL_END, HEAD_END, SORTED };

    // Inserts the entry at its place, then wakes one consumer.
    void insertAndRelease(Placement placement, Entry entry);
    // The entry before which a new entry with `tag` goes (towards the tail end).
    List::const_iterator placeFor(Placement placement, uint32_t tag) const REQUIRES(mutex_);
    void* takeHeadEnd();

    List list_ GUARDED_BY(mutex_);  // front: tail end, back: head end
    std::atomic<int> count_;        // list_.size(), for depth() without the lock
    mutable CoMutex mutex_;
    CoLock items_;
};

}  // namespace Vantrel
