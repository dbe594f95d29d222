#include "ipc/CoSortedQueue.h"

#include <vector>

#include "vantrel/CoMsg.h"

namespace Vantrel {

CoSortedQueue::CoSortedQueue() : count_(0), items_(0) {}

CoSortedQueue::~CoSortedQueue() = default;

void CoSortedQueue::enqueue(void* item) { insertAndRelease(Placement::TAIL_END, {TAG_LAST, item}); }

void CoSortedQueue::enqueueFront(void* item) { insertAndRelease(Placement::HEAD_END, {TAG_LAST, item}); }

void CoSortedQueue::enqueueSorted(void* item, unsigned tag) {
    if (tag == TAG_NONE) {
        insertAndRelease(Placement::TAIL_END, {TAG_NONE, item});
    } else {
        insertAndRelease(Placement::SORTED, {tag, item});
    }
}

void CoSortedQueue::insertAndRelease(Placement placement, Entry entry) {
    {
        CoMutexGuard guard(mutex_);
        list_.insert(placeFor(placement, entry.tag), entry);
        count_.store(static_cast<int>(list_.size()));
    }
    // After the mutex is given back, so the woken consumer does not block on it at once.
    items_.release();
}

CoSortedQueue::List::const_iterator CoSortedQueue::placeFor(Placement placement, uint32_t tag) const {
    switch (placement) {
        case Placement::TAIL_END: return list_.begin();
        case Placement::HEAD_END: return list_.end();
        case Placement::SORTED: break;
    }
    auto place = list_.begin();
    while (place != list_.end() && place->tag >= tag && place->tag != TAG_NONE) ++place;
    // list_.end() when nothing stopped the walk: the head end.
    return place;
}

void* CoSortedQueue::dequeue() {
    items_.get();
    return takeHeadEnd();
}

void* CoSortedQueue::tryDequeue() {
    if (!items_.tryGet()) return nullptr;
    return takeHeadEnd();
}

void* CoSortedQueue::takeHeadEnd() {
    CoMutexGuard guard(mutex_);
    void* const item = list_.back().item;
    list_.pop_back();
    count_.store(static_cast<int>(list_.size()));
    return item;
}

int CoSortedQueue::depth() const { return count_.load(); }

void CoSortedQueue::dump(bool verbose) const {
    // A copy, so that no enqueue or dequeue waits while the lines are written.
    std::vector<Entry> entries;
    int count = 0;
    {
        CoMutexGuard guard(mutex_);
        count = static_cast<int>(list_.size());
        if (verbose) entries.assign(list_.begin(), list_.end());
    }
    CO_MSG_DEBUG("Fifo %p [depth = %i]", static_cast<const void*>(this), count);
    int position = 0;
    for (const Entry& entry : entries)
        CO_MSG_DEBUG("\tItem %d: %p tag: %d", position++, entry.item, static_cast<int>(entry.tag));
}

void* CoSortedQueue::getItem(unsigned index) const {
    // Under the mutex: a walk racing with a dequeue could step onto a freed node.
    CoMutexGuard guard(mutex_);
    for (const Entry& entry : list_) {
        if (index == 0) return entry.item;
        --index;
    }
    return nullptr;
}

}  // namespace Vantrel
